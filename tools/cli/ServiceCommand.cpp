// nimbex service list | add | delete | discover | update
#include <cstdio>
#include <functional>
#include <iostream>

#include "Commands.h"
#include "Failure.h"
#include "PinSource.h"

namespace nimbex_cli {

namespace {

const char kUsage[] =
    "usage: nimbex service list [--json]\n"
    "       nimbex service add NAME --auth URL --sign URL [--docstore URL]\n"
    "                          [--description TEXT] [--test] [--machine]\n"
    "                          [--user NAME (--password-env VAR | --password-fd N |\n"
    "                                        --ask-password)]\n"
    "       nimbex service delete NAME\n"
    "       nimbex service discover URL [--save] [--json]\n"
    "       nimbex service update\n"
    "\n"
    "  list      the configured services, machine-wide first\n"
    "  add       store a service (per user, or machine-wide with --machine) and\n"
    "            optionally the user name and password to sign in with\n"
    "  delete    remove a service and its saved credentials\n"
    "  discover  the services the discovery document at URL lists; --save stores\n"
    "            those not configured yet (under a name formed from the URL)\n"
    "  update    store the services that linked certificates name\n";

Json::Value EntryJson(const CloudServerSettings& s) {
    Json::Value e;
    e["name"] = s.name;
    e["auth_url"] = s.authUrl;
    e["sign_url"] = s.signUrl;
    e["docstore_url"] = s.docstoreUrl;
    e["description"] = s.description;
    e["test_service"] = s.isTestService != 0;
    e["user"] = s.userName;
    return e;
}

// Every entry of an enumeration; an open that finds nothing gives an empty list.
Json::Value ReadEnumeration(Invocation& inv,
                            const std::function<uint32_t(CloudServerSettingsEnum**)>& open,
                            const std::string& what) {
    Json::Value list(Json::arrayValue);
    CloudServerSettingsEnum* e = nullptr;
    const uint32_t openResult = open(&e);
    if (openResult == 2) return list;
    Check(openResult, what);
    CloudServerSettings s{};
    while (inv.api().ExtendedCloudServerSettingsEnumNext(e, 2, &s) == 0) list.append(EntryJson(s));
    inv.api().CloudServerSettingsEnumClose(e);
    return list;
}

void PrintEntries(const Json::Value& list, const char* none) {
    if (list.empty()) std::printf("%s\n", none);
    for (const Json::Value& e : list) {
        std::printf("%s%s\n", e["name"].asCString(),
                    e["test_service"].asBool() ? " (test service)" : "");
        std::printf("  auth:     %s\n  sign:     %s\n", e["auth_url"].asCString(),
                    e["sign_url"].asCString());
        if (!e["docstore_url"].asString().empty())
            std::printf("  docstore: %s\n", e["docstore_url"].asCString());
        if (!e["description"].asString().empty())
            std::printf("  about:    %s\n", e["description"].asCString());
        if (!e["user"].asString().empty()) std::printf("  user:     %s\n", e["user"].asCString());
    }
}

int List(Invocation& inv, const CommandLine& line) {
    line.AtMost(1);
    const Json::Value list = ReadEnumeration(
        inv, [&](CloudServerSettingsEnum** e) { return inv.api().CloudServerSettingsEnumOpen(e); },
        "service list");
    if (inv.json)
        PrintJson(list);
    else
        PrintEntries(list, "no services configured");
    return 0;
}

int Add(Invocation& inv, const CommandLine& line) {
    line.AtMost(2);
    const std::string name = line.Positional(1, "service name");
    const std::string auth = line.Required("auth"), sign = line.Required("sign");
    const std::string docstore = line.Value("docstore"), about = line.Value("description");
    const std::string user = line.Value("user");
    std::string password = ReadPassword(line);
    if (line.Has("user") != !password.empty()) {
        csphost::Wipe(password);
        throw UsageError("--user and a password source go together");
    }
    CloudServerSettings s{};
    s.name = name.c_str();
    s.authUrl = auth.c_str();
    s.signUrl = sign.c_str();
    s.description = about.c_str();
    s.isTestService = line.Has("test") ? 1 : 0;
    s.docstoreUrl = docstore.c_str();
    if (!user.empty()) {
        s.userName = user.c_str();
        s.password = password.c_str();
    }
    const uint32_t result =
        inv.api().SaveExtendedCloudServerSettings(&s, 2, line.Has("machine") ? 1 : 0);
    csphost::Wipe(password);
    Check(result, "service add " + name);
    if (!inv.quiet && !inv.json) std::printf("added service %s\n", name.c_str());
    if (inv.json) PrintJson(Json::Value(Json::objectValue));
    return 0;
}

int Delete(Invocation& inv, const CommandLine& line) {
    line.AtMost(2);
    const std::string name = line.Positional(1, "service name");
    Check(inv.api().DeleteCloudServerSettings(name.c_str()), "service delete " + name);
    if (!inv.quiet && !inv.json) std::printf("deleted service %s\n", name.c_str());
    if (inv.json) PrintJson(Json::Value(Json::objectValue));
    return 0;
}

int Discover(Invocation& inv, const CommandLine& line) {
    line.AtMost(2);
    const std::string url = line.Positional(1, "discovery URL");
    const auto discover = [&] {
        return ReadEnumeration(
            inv,
            [&](CloudServerSettingsEnum** e) {
                return inv.api().CloudServerSettingsEnumOpenFromDiscovery(url.c_str(), e);
            },
            "service discover " + url);
    };
    Json::Value list = discover();
    if (line.Has("save")) {
        // Stores the services not configured yet; listed again, they carry their names.
        inv.api().UpdateCloudServerSettingsUsingDiscovery(url.c_str());
        list = discover();
    }
    if (inv.json)
        PrintJson(list);
    else
        PrintEntries(list, "the discovery document lists no usable service");
    return 0;
}

int Update(Invocation& inv, const CommandLine& line) {
    line.AtMost(1);
    inv.api().UpdateCloudServerSettings();
    if (inv.json) PrintJson(Json::Value(Json::objectValue));
    return 0;
}

}  // namespace

int ServiceCommand(Invocation& inv) {
    const CommandLine line(
        inv.words,
        {"auth", "sign", "docstore", "description", "user", "password-env", "password-fd"},
        {"help", "json", "test", "machine", "save", "ask-password"});
    if (line.Has("help")) {
        std::cout << kUsage;
        return 0;
    }
    inv.json = inv.json || line.Has("json");
    const std::string sub = line.Positional(0, "service subcommand (list, add, delete, ...)");
    if (sub == "list") return List(inv, line);
    if (sub == "add") return Add(inv, line);
    if (sub == "delete") return Delete(inv, line);
    if (sub == "discover") return Discover(inv, line);
    if (sub == "update") return Update(inv, line);
    throw UsageError("unknown service subcommand '" + sub + "'");
}

}  // namespace nimbex_cli
