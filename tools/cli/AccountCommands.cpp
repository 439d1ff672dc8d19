// nimbex logout, nimbex timeout get | set
#include <cstdio>
#include <iostream>

#include "Commands.h"
#include "Failure.h"

namespace nimbex_cli {

namespace {

const char kLogoutUsage[] =
    "usage: nimbex logout --service NAME [--json]\n"
    "\n"
    "Signs out of the service through the browser application, forgets the\n"
    "sign-in tokens and deletes the saved user name and password.\n";

const char kTimeoutUsage[] =
    "usage: nimbex timeout get [--json]\n"
    "       nimbex timeout set MILLISECONDS\n"
    "\n"
    "The time-out of every connection to a service (machine-wide option \"Timeout\";\n"
    "read back at most 65535, default 30000).\n";

}  // namespace

int LogoutCommand(Invocation& inv) {
    const CommandLine line(inv.words, {"service"}, {"help", "json"});
    if (line.Has("help")) {
        std::cout << kLogoutUsage;
        return 0;
    }
    line.AtMost(0);
    const std::string name = line.Required("service");
    CloudServerSettings record{};
    record.name = name.c_str();
    Check(inv.api().KelDropAuthCookies(&record), "logout --service " + name);
    if (inv.json || line.Has("json"))
        PrintJson(Json::Value(Json::objectValue));
    else if (!inv.quiet)
        std::printf("signed out of %s\n", name.c_str());
    return 0;
}

int TimeoutCommand(Invocation& inv) {
    const CommandLine line(inv.words, {}, {"help", "json"});
    if (line.Has("help")) {
        std::cout << kTimeoutUsage;
        return 0;
    }
    const std::string sub = line.Positional(0, "timeout subcommand (get or set)");
    if (sub == "get") {
        line.AtMost(1);
        uint16_t timeout = 0;
        Check(inv.api().KelGetConnectionTimeout(&timeout), "timeout get");
        if (inv.json || line.Has("json")) {
            Json::Value j;
            j["timeout_ms"] = timeout;
            PrintJson(j);
        } else {
            std::printf("%u\n", timeout);
        }
        return 0;
    }
    if (sub == "set") {
        line.AtMost(2);
        unsigned long value = 0;
        const std::string text = line.Positional(1, "time-out in milliseconds");
        if (!ParseNumber(text, value) || value > 0x7FFFFFFF)
            throw UsageError("the time-out is a number of milliseconds, not '" + text + "'");
        Check(inv.api().KelSetConnectionTimeout(static_cast<int32_t>(value)), "timeout set");
        if (inv.json || line.Has("json")) PrintJson(Json::Value(Json::objectValue));
        return 0;
    }
    throw UsageError("unknown timeout subcommand '" + sub + "'");
}

}  // namespace nimbex_cli
