#include "reader/PinAcquisition.h"

#include <capi/wintypes.h>
#include <nimbex/reader.h>

#include <cstring>
#include <vector>

#include "base/ErrorCodes.h"
#include "base/Wipe.h"

namespace {

constexpr uintptr_t kMaxPinBytes = 64;
constexpr int kMaxPinCharacters = 64;
constexpr int kMaxConvertedBytes = 128;
constexpr unsigned kUtf8 = 65001;

uint32_t AskCaller(const HostContext& host, HostPinRequest& request) {
    const uintptr_t* c = host.caller.words;
    const uint32_t rc = host.callbacks.pinRequest(c[0], c[1], c[2], c[3], c[4], c[5], c[6],
                                                  CLOUD_PIN_REQUEST_KIND, &request);
    return rc == CLOUD_PIN_NOT_AVAILABLE ? codes::kPinRequired : rc;
}

// The text in `buffer` through UTF-8 -> wide -> UTF-8, in place; unchanged
// when it does not convert.
void NormaliseUtf8(std::vector<char>& buffer, size_t length) {
    std::vector<wchar_t> wide(kMaxPinCharacters);
    const int characters = MultiByteToWideChar(kUtf8, 0, buffer.data(), static_cast<int>(length),
                                               wide.data(), kMaxPinCharacters);
    if (characters > 0) {
        std::vector<char> converted(buffer.size(), '\0');
        const int bytes = WideCharToMultiByte(kUtf8, 0, wide.data(), characters, converted.data(),
                                              kMaxConvertedBytes, nullptr, nullptr);
        if (bytes > 0) {
            WipeBytes(buffer.data(), buffer.size());
            std::memcpy(buffer.data(), converted.data(), static_cast<size_t>(bytes));
        }
        WipeBytes(converted.data(), converted.size());
    }
    WipeBytes(wide.data(), wide.size() * sizeof(wchar_t));
}

}  // namespace

uint32_t AcquirePin(const CloudReaderContext& context, SecretString& pin) {
    if (!context.host.callbacks.pinRequest) return codes::kInvalidParameter;
    pin.Wipe();
    if (context.noPinNeeded) return codes::kSuccess;

    HostPinRequest request{0, nullptr};
    uint32_t rc = AskCaller(context.host, request);
    if (rc != codes::kSuccess) return rc;
    if (request.length > kMaxPinBytes) return codes::kInvalidParameter;

    // Room for the longest normalised text and a terminator. The host writes
    // into a raw buffer, so this one and the conversion buffers are wiped by
    // hand; the PIN itself goes straight into the secret string.
    std::vector<char> buffer(kMaxConvertedBytes + 1, '\0');
    const uintptr_t asked = request.length;
    request.buffer = buffer.data();
    rc = AskCaller(context.host, request);
    if (rc == codes::kSuccess) {
        NormaliseUtf8(buffer, strnlen(buffer.data(), asked));
        pin.assign(buffer.data(), strnlen(buffer.data(), kMaxConvertedBytes));
    }
    WipeBytes(buffer.data(), buffer.size());
    return rc;
}
