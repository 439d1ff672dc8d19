// nimbex config get | set KEY [VALUE]: the module options and the browser
// application, machine-wide values of the configuration registry.
#include <support/support.h>

#include <cstdio>
#include <iostream>

#include "Commands.h"
#include "Failure.h"

namespace nimbex_cli {

namespace {

const char kUsage[] =
    "usage: nimbex config get KEY [--json]\n"
    "       nimbex config set KEY VALUE\n"
    "\n"
    "KEY is AuthApp (the path of the browser application that signs users in)\n"
    "or a module option: Timeout, MaxDocSize, ShouldSaveAuthToken, PermitHttp,\n"
    "RealDelete, HttpErrorLevel, EnableKeyCreation, HttpKeepAlive,\n"
    "GetServerOptionsOnline (numbers). The values are machine-wide; setting\n"
    "them may need the rights to write the machine's configuration.\n";

const char kSection[] = "\\config\\KeyDevices\\Cloud\\";
const char kAuthApp[] = "AuthApp";
const char* const kNumeric[] = {"Timeout",           "MaxDocSize",    "ShouldSaveAuthToken",
                                "PermitHttp",        "RealDelete",    "HttpErrorLevel",
                                "EnableKeyCreation", "HttpKeepAlive", "GetServerOptionsOnline"};

// The key as the registry spells it; a usage error for an unknown one.
std::string KnownKey(const std::string& key) {
    if (key == kAuthApp) return key;
    for (const char* name : kNumeric)
        if (key == name) return key;
    throw UsageError("unknown configuration key '" + key + "'");
}

}  // namespace

int ConfigCommand(Invocation& inv) {
    const CommandLine line(inv.words, {}, {"help", "json"});
    if (line.Has("help")) {
        std::cout << kUsage;
        return 0;
    }
    const std::string sub = line.Positional(0, "config subcommand (get or set)");
    const std::string key = KnownKey(line.Positional(1, "configuration key"));
    const std::string path = kSection + key;
    if (sub == "set") {
        line.AtMost(3);
        const std::string value = line.Positional(2, "value");
        if (key == kAuthApp) {
            Check(support_registry_put_string(path.c_str(), value.c_str()), "config set " + key);
        } else {
            unsigned long number = 0;
            if (!ParseNumber(value, number) || number > 0x7FFFFFFF)
                throw UsageError(key + " takes a number, not '" + value + "'");
            Check(support_registry_put_long(path.c_str(), static_cast<int32_t>(number)),
                  "config set " + key);
        }
        return 0;
    }
    if (sub != "get") throw UsageError("unknown config subcommand '" + sub + "'");
    line.AtMost(2);
    Json::Value value;
    if (key == kAuthApp) {
        size_t length = 0;
        Check(support_registry_get_string(path.c_str(), &length, nullptr), "config get " + key);
        std::string text(length, '\0');
        Check(support_registry_get_string(path.c_str(), &length, &text[0]), "config get " + key);
        value = text;
    } else {
        int32_t number = 0;
        Check(support_registry_get_long(path.c_str(), &number), "config get " + key);
        value = number;
    }
    if (inv.json || line.Has("json")) {
        Json::Value j;
        j[key] = value;
        PrintJson(j);
    } else {
        std::printf("%s\n",
                    value.isString() ? value.asCString() : std::to_string(value.asInt()).c_str());
    }
    return 0;
}

}  // namespace nimbex_cli
