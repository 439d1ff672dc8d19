#include "AuthAppConfig.h"

#include <json/json.h>
#include <string.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace authapp {

namespace {

// The parsed document holds its own copies of the credentials.
void wipeCredentials(Json::Value& root) {
    if (!root.isObject()) return;
    for (const char* name : {"login", "password"}) {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (root[name].isString() && root[name].getString(&begin, &end) && end > begin)
            explicit_bzero(const_cast<char*>(begin), static_cast<size_t>(end - begin));
    }
}

}  // namespace

bool AuthAppConfig::load(std::string& message) {
    login = std::string("demo");
    password = std::string("demo-password");
    const char* file = getenv("NIMBEX_AUTHAPP_CONFIG");
    if (file && *file) {
        std::ifstream in(file);
        if (!in) {
            message = std::string("cannot read ") + file;
            return false;
        }
        Secret text;
        in.seekg(0, std::ios::end);
        std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        if (size > 0 && size < (1 << 20)) {
            text.mut().resize(static_cast<size_t>(size));
            in.read(&text.mut()[0], size);
        }
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> reader(b.newCharReader());
        Json::Value root;
        std::string errors;
        const std::string& t = text.get();
        if (!reader->parse(t.data(), t.data() + t.size(), &root, &errors) || !root.isObject()) {
            wipeCredentials(root);
            message = std::string(file) + " is not a JSON object";
            return false;
        }
        auto str = [&](const char* name, std::string& out) {
            if (root.isMember(name) && root[name].isString()) out = root[name].asString();
        };
        if (root["login"].isString()) login = root["login"].asString();
        if (root["password"].isString()) password = root["password"].asString();
        str("caFile", caFile);
        str("mode", mode);
        str("error", error);
        if (root["timeoutSeconds"].isUInt()) timeoutSeconds = root["timeoutSeconds"].asUInt();
        wipeCredentials(root);
    }
    if (const char* ca = getenv("NIMBEX_CA_FILE")) caFile = ca;
    if (const char* m = getenv("NIMBEX_AUTHAPP_MODE")) mode = m;
    if (const char* e = getenv("NIMBEX_AUTHAPP_ERROR")) error = e;
    if (mode != "signin" && mode != "cancel" && mode != "error" && mode != "fail") {
        message = "mode is signin, cancel, error or fail";
        return false;
    }
    return true;
}

}  // namespace authapp
