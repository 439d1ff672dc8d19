#include "Failure.h"

#include <cstdio>

namespace nimbex_cli {

namespace {

struct Meaning {
    uint32_t code;
    const char* text;
};

const Meaning kMeanings[] = {
    {0, "success"},
    {2, "not found"},
    {8, "out of memory"},
    {50, "request not supported"},
    {86, "the password is wrong"},
    {87, "invalid parameter"},
    {234, "buffer too small"},
    {259, "no more items"},
    {1244, "the user has to sign in"},
    {2202, "unknown user or refused sign-in"},
    {4336, "the request is too large for the service"},
    {12002, "the connection timed out"},
    {12004, "internal error of the HTTP client"},
    {12005, "invalid URL"},
    {12006, "unrecognised URL scheme"},
    {12007, "host name not resolved"},
    {12029, "cannot connect to the server"},
    {12030, "the connection was broken"},
    {12152, "invalid server response"},
    {12153, "invalid header"},
    {12156, "too many redirects"},
    {12157, "secure channel error (untrusted certificate or TLS failure)"},
    {0x80090005, "bad data"},
    {0x80090008, "algorithm not supported"},
    {0x8009000B, "the container was deleted"},
    {0x8009000D, "no such key"},
    {0x8009000E, "out of memory"},
    {0x8009000F, "already exists"},
    {0x80090016, "no such key container"},
    {0x8009001D, "the module could not be loaded"},
    {0x8009001F, "bad key container parameter"},
    {0x80090020, "general failure"},
    {0x80090022, "user interaction needed in a silent context"},
    {0x80090029, "not supported"},
    {0x8010000F, "plain HTTP is not permitted"},
    {0x80100028, "key not supported by the container"},
    {0x8010002A, "the PIN is too long"},
    {0x80100065, "unsupported medium"},
    {0x8010006A, "access denied"},
    {0x8010006B, "wrong PIN"},
    {0x8010006C, "the PIN is blocked"},
    {0x8010006E, "cancelled by the user"},
    {0x252D1230, "a PIN is required"},
    {0x252D1303, "no container is open"},
    {0x252D1304, "no file is open"},
};

}  // namespace

void Check(uint32_t code, const std::string& what) {
    if (code != 0) throw CallFailure(what, code);
}

std::string CodeMeaning(uint32_t code) {
    for (const Meaning& m : kMeanings)
        if (m.code == code) return m.text;
    return "unknown code";
}

std::string FailureLine(const CallFailure& failure) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", failure.code());
    std::string line = "nimbex: " + std::string(failure.what()) + ": error " +
                       std::to_string(failure.code()) + " (" + hex +
                       "): " + CodeMeaning(failure.code());
    if (!failure.detail().empty()) line += "; " + failure.detail();
    return line;
}

}  // namespace nimbex_cli
