#include "AuthAppConfig.h"

#include <json/json.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace authapp {

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
        {
            std::stringstream ss;
            ss << in.rdbuf();
            text = ss.str();
        }
        Json::CharReaderBuilder b;
        std::unique_ptr<Json::CharReader> reader(b.newCharReader());
        Json::Value root;
        std::string errors;
        const std::string& t = text.get();
        if (!reader->parse(t.data(), t.data() + t.size(), &root, &errors) || !root.isObject()) {
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
        // The parsed document holds the password too.
        if (root.isMember("password") && root["password"].isString()) {
            std::string p = root["password"].asString();
            wipe(p);
        }
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
