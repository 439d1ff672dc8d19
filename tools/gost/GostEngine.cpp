// The engine interface is deprecated in OpenSSL 3 but it is how this engine is offered.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "GostEngine.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <unistd.h>

#include <cstdlib>

namespace gost {

namespace {

// OpenSSL's engines directory, from its build information ("ENGINESDIR: \"/usr/lib/...\"");
// the multiarch folder of the libcrypto this process runs on.
std::string DefaultPath() {
    const std::string info = OpenSSL_version(OPENSSL_ENGINES_DIR);
    const size_t first = info.find('"'), last = info.rfind('"');
    if (first == std::string::npos || last <= first) return "gost.so";
    return info.substr(first + 1, last - first - 1) + "/gost.so";
}

std::string LastOpenSslError() {
    char text[256] = "no detail";
    const unsigned long code = ERR_get_error();
    if (code) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

}  // namespace

Engine::Engine() {
    const char* configured = getenv("NIMBEX_GOST_ENGINE");
    path_ = configured && *configured ? configured : DefaultPath();
    if (access(path_.c_str(), R_OK) != 0) {
        problem_ = "the GOST engine " + path_ +
                   " is not installed (package libengine-gost-openssl for this architecture)";
        return;
    }
    ENGINE* e = ENGINE_by_id("dynamic");
    if (!e) {
        problem_ = "OpenSSL has no dynamic engine loader: " + LastOpenSslError();
        return;
    }
    if (ENGINE_ctrl_cmd_string(e, "SO_PATH", path_.c_str(), 0) != 1 ||
        ENGINE_ctrl_cmd_string(e, "ID", "gost", 0) != 1 ||
        ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0) != 1 || ENGINE_init(e) != 1) {
        problem_ = "cannot load the GOST engine " + path_ + ": " + LastOpenSslError();
        ENGINE_free(e);
        return;
    }
    streebog256_ = ENGINE_get_digest(e, NID_id_GostR3411_2012_256);
    streebog512_ = ENGINE_get_digest(e, NID_id_GostR3411_2012_512);
    if (ENGINE_set_default(e, ENGINE_METHOD_ALL) != 1 || !streebog256_ || !streebog512_) {
        problem_ =
            "the GOST engine " + path_ + " does not offer GOST R 34.11-2012: " + LastOpenSslError();
        ENGINE_finish(e);
        ENGINE_free(e);
        streebog256_ = streebog512_ = nullptr;
        return;
    }
    handle_ = e;
}

Engine::~Engine() {
    if (!handle_) return;
    ENGINE* e = static_cast<ENGINE*>(handle_);
    ENGINE_unregister_ciphers(e);
    ENGINE_unregister_digests(e);
    ENGINE_unregister_pkey_meths(e);
    ENGINE_unregister_pkey_asn1_meths(e);
    ENGINE_finish(e);
    ENGINE_free(e);
}

const Engine& Engine::Get() {
    static Engine engine;
    return engine;
}

unsigned KeyBits(const EVP_PKEY* key) {
    switch (key ? EVP_PKEY_get_base_id(key) : 0) {
        case NID_id_GostR3410_2012_256:
            return 256;
        case NID_id_GostR3410_2012_512:
            return 512;
        default:
            return 0;
    }
}

}  // namespace gost
