#include "config/ContainerNaming.h"

#include <cctype>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "config/UrlParts.h"

SeededRandom::SeededRandom(uint32_t seed) {
    if (seed == 0) seed = 1;
    int32_t word = static_cast<int32_t>(seed);
    state_[0] = word;
    for (int i = 1; i < 31; ++i) {
        // state[i] = 16807 * state[i - 1] mod (2^31 - 1), without overflow.
        const int64_t hi = word / 127773;
        const int64_t lo = word % 127773;
        int64_t next = 16807 * lo - 2836 * hi;
        if (next < 0) next += 2147483647;
        word = static_cast<int32_t>(next);
        state_[i] = word;
    }
    for (int i = 0; i < 310; ++i) Next();
}

int SeededRandom::Next() {
    const uint32_t value =
        static_cast<uint32_t>(state_[front_]) + static_cast<uint32_t>(state_[rear_]);
    state_[front_] = static_cast<int32_t>(value);
    if (++front_ == 31) front_ = 0;
    if (++rear_ == 31) rear_ = 0;
    return static_cast<int>(value >> 1);
}

std::string MakeContainerName(const std::string& text, uint32_t number) {
    uint32_t seed = number;
    for (unsigned char c : text) seed += c;
    SeededRandom random(seed);
    static const char kDigits[] = "0123456789abcdef";
    std::string guid = "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx";
    for (char& c : guid) {
        int d = random.Next() % 16;
        if (c == 'y') d &= 0xB;
        if (c == 'x' || c == 'y') c = kDigits[d];
    }
    return "KEL-" + guid;
}

std::string MakeServiceId(const std::string& restUrl) {
    const UrlParts parts = SplitUrl(restUrl);
    if (!parts.parsed) throw KelException("Wrong rest server URL format", codes::kFail);
    std::string id = parts.host + parts.path;
    if (id.size() > 40) id.resize(40);
    for (char& c : id) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
    }
    return id;
}
