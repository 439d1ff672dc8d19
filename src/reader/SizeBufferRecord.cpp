#include "reader/SizeBufferRecord.h"

#include <cstring>

#include "base/ErrorCodes.h"

uint32_t ReturnText(CloudSizeBufferRecord* record, const char* text, size_t length) {
    if (!record) return codes::kInvalidParameter;
    const uintptr_t capacity = record->size;
    record->size = length;
    if (!record->buffer || capacity == 0) return codes::kSuccess;
    if (capacity < length + 1) return codes::kMoreData;
    if (length) std::memcpy(record->buffer, text, length);
    record->buffer[length] = '\0';
    return codes::kSuccess;
}

uint32_t ReturnText(CloudSizeBufferRecord* record, const std::string& text) {
    return ReturnText(record, text.c_str(), text.size());
}
