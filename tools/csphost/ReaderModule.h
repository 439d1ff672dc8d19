#pragma once
#include <nimbex/reader.h>

#include <cstdint>
#include <string>

namespace csphost {

// The reader table of a module: loaded from a file with dlopen (and closed
// again on destruction), or a table already in the process.
class ReaderModule {
  public:
    // HostError 0x8009001D when the file does not load or has no table.
    explicit ReaderModule(const std::string& path);
    explicit ReaderModule(const CloudReaderTable* table);
    ~ReaderModule();
    ReaderModule(const ReaderModule&) = delete;
    ReaderModule& operator=(const ReaderModule&) = delete;

    // The handler's answer, truncated to 32 bits as the reader interface
    // defines it. HostError 0x80090029 when the table has no such id.
    uint32_t Call(uintptr_t id, void* context, void* record) const;
    // As Call; a non-zero answer throws HostError(what, answer).
    void Require(uintptr_t id, void* context, void* record, const char* what) const;

    const CloudReaderTable& table() const { return *table_; }

  private:
    void* handle_ = nullptr;
    const CloudReaderTable* table_ = nullptr;
};

}  // namespace csphost
