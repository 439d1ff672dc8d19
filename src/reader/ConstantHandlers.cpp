// The handlers that answer from constants alone, and the no-op handlers.
#include <nimbex/reader.h>

#include <cstring>

#include "base/ErrorCodes.h"
#include "reader/ModuleResource.h"
#include "reader/ReaderHandlers.h"
#include "reader/SizeBufferRecord.h"

namespace {

const char kReaderName[] = "CLOUD";
const char kMediaNameFallback[] = "Cloud Token";
const char kDescriptionFallback[] = "Use CSP as client for Veltra KEL.";

uintptr_t CopyReaderName(void* record) {
    if (!record) return codes::kInvalidParameter;
    std::memcpy(record, kReaderName, sizeof(kReaderName));
    return codes::kSuccess;
}

// The localised string when the catalog has it, else the fallback text. A
// catalog string that does not fit answers with its own length (234), so the
// caller's retry with that size gets the same text.
template <size_t N>
uintptr_t ReturnLocalisedText(void* record, unsigned id, const char (&fallback)[N]) {
    auto* sizeBuffer = static_cast<CloudSizeBufferRecord*>(record);
    if (!sizeBuffer) return codes::kInvalidParameter;
    size_t size = sizeBuffer->size;
    const TSupErr rc = support_resource_string(ModuleResource(), id, sizeBuffer->buffer, &size);
    if (rc == SUP_OK || rc == SUP_MORE_DATA) {
        sizeBuffer->size = size;
        return rc;
    }
    return ReturnText(sizeBuffer, fallback, N - 1);
}

struct FeatureBits {
    uintptr_t count;
    unsigned char value;
};

}  // namespace

namespace cloud_reader {

uintptr_t get_reader_name(void*, void* record) {
    return CopyReaderName(record);
}

uintptr_t get_reader_type(void*, void* record) {
    return CopyReaderName(record);
}

uintptr_t get_media_name(void*, void* record) {
    return ReturnLocalisedText(record, kMediaNameStringId, kMediaNameFallback);
}

uintptr_t get_description(void*, void* record) {
    return ReturnLocalisedText(record, kDescriptionStringId, kDescriptionFallback);
}

uintptr_t get_feature_bits(void*, void* record) {
    auto* bits = static_cast<CloudFeatureBitsRecord*>(record);
    if (!bits) return codes::kInvalidParameter;
    FeatureBits answer;
    switch (bits->selector) {
        case 0:
            answer = {1, 0x00};
            break;
        case 1:
            answer = {6, 0x00};
            break;
        case 0x3000:
            answer = {5, 0x48};
            break;
        default:
            return codes::kInvalidParameter;
    }
    if (bits->buffer) {
        const uintptr_t capacity = bits->bits < answer.count ? bits->bits : answer.count;
        const uintptr_t bytes = (capacity + 7) / 8;  // every answer fits in one byte
        if (bytes) bits->buffer[0] = answer.value;
    }
    bits->bits = answer.count;
    return codes::kSuccess;
}

uintptr_t get_interface_version(void*, void* record) {
    auto* version = static_cast<CloudInterfaceVersionRecord*>(record);
    if (!version) return codes::kInvalidParameter;
    version->version = 3;
    version->reserved[0] = version->reserved[1] = version->reserved[2] = 0;
    return codes::kSuccess;
}

uintptr_t get_media_limits(void*, void* record) {
    auto* limits = static_cast<CloudMediaLimitsRecord*>(record);
    if (!limits || limits->version != CLOUD_RECORD_VERSION) return codes::kInvalidParameter;
    limits->maxNameLength = 255;
    limits->maxPinLength = 64;
    limits->minPinLength = 0;
    limits->pinRequired = 1;
    return codes::kSuccess;
}

uintptr_t negotiate_version(void*, void* record) {
    auto* negotiate = static_cast<CloudNegotiateRecord*>(record);
    if (!negotiate || (negotiate->version & 0xF0) != CLOUD_RECORD_VERSION)
        return codes::kInvalidParameter;
    negotiate->version = 0x32;
    return codes::kSuccess;
}

uintptr_t get_max_value(void*, void* record) {
    auto* max = static_cast<CloudMaxValueRecord*>(record);
    if (!max) return codes::kInvalidParameter;
    max->value = 0xFFFF;
    return codes::kSuccess;
}

uintptr_t release_hash(void*, void*) {
    return codes::kSuccess;
}
uintptr_t flush_file(void*, void*) {
    return codes::kSuccess;
}
uintptr_t set_file_size(void*, void*) {
    return codes::kSuccess;
}
uintptr_t release_key(void*, void*) {
    return codes::kSuccess;
}

}  // namespace cloud_reader
