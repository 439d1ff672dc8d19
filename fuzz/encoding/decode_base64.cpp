// DecodeBase64Into and DecodeBase64 on arbitrary text: the first byte picks
// the output capacity, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/KelException.h"
#include "protocol/TextEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t capacity = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    size_t counted = 0;
    const int countStatus = DecodeBase64Into(text, nullptr, &counted);
    if (countStatus == -2) std::abort();  // nothing to overflow without a buffer

    std::vector<unsigned char> out(capacity + 1, 0xA5);  // one guard byte
    size_t count = capacity;
    const int status = DecodeBase64Into(text, out.data(), &count);
    if (out[capacity] != 0xA5) std::abort();  // wrote past the capacity
    if (status == 0)
        for (size_t i = count; i < capacity; ++i)
            if (out[i] != 0xA5) std::abort();  // wrote past the decoded bytes
    // Bad input may be found only after the buffer has run full.
    if (countStatus == -1 && status == 0) std::abort();
    if (countStatus == 0) {
        if (status == 0 && count != counted) std::abort();
        if ((status == -2) != (counted > capacity)) std::abort();
    }

    try {
        std::vector<unsigned char> bytes = DecodeBase64(text);
        if (countStatus != 0 || bytes.size() != counted) std::abort();
        // Canonical text of those bytes decodes to them again.
        std::string again = EncodeBase64(bytes.data(), bytes.size());
        if (!bytes.empty() && DecodeBase64(again) != bytes) std::abort();
    } catch (const KelException& e) {
        if (e.code() != 0x80090020u) std::abort();
        if (countStatus == 0 && !text.empty()) std::abort();
    }
    return 0;
}
