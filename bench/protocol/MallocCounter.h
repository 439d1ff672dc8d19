#pragma once
#include <cstdint>

// Heap accounting of the whole process (every malloc family call, JsonCpp's
// own string storage included): bytes in use now and the high-water mark.
namespace malloc_counter {
int64_t Current();
int64_t Peak();
// Starts a new high-water mark at the current use.
void ResetPeak();
}  // namespace malloc_counter
