// nimbex: configure signature services, manage their certificates and use
// them, over the management interface of libnimbex.so and the CSP host.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "Commands.h"
#include "Failure.h"
#include "HostError.h"

namespace {

const char kUsage[] =
    "usage: nimbex [--module PATH] [--json] [--quiet] COMMAND [ARGS]\n"
    "\n"
    "Commands (each takes --help):\n"
    "  service   list, add, delete, discover or update the configured services\n"
    "  cert      list a service's certificates, install one, clean up stale\n"
    "            links, list the linked certificates of the store\n"
    "  logout    sign out of a service and forget its tokens and credentials\n"
    "  timeout   get or set the connection time-out\n"
    "  sign      sign a file (raw signature or CMS) with a linked certificate's key\n"
    "  pin       verify or change a key's PIN\n"
    "  key       generate a key on the service and link its certificate\n"
    "  config    get or set a module option or the browser application\n"
    "\n"
    "Options:\n"
    "  --module PATH  the reader module (default: $NIMBEX_MODULE, else the\n"
    "                 installed or built libnimbex.so)\n"
    "  --json         results as JSON on standard output\n"
    "  --quiet        no progress or confirmation messages\n"
    "\n"
    "Exit status: 0 on success, 1 when the module answers with an error (one\n"
    "line names the code, its hexadecimal form and its meaning), 2 for a wrong\n"
    "command line.\n";

typedef int (*Command)(nimbex_cli::Invocation&);

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"service", nimbex_cli::ServiceCommand}, {"cert", nimbex_cli::CertCommand},
        {"logout", nimbex_cli::LogoutCommand},   {"timeout", nimbex_cli::TimeoutCommand},
        {"sign", nimbex_cli::SignCommand},       {"pin", nimbex_cli::PinCommand},
        {"key", nimbex_cli::KeyCommand},         {"config", nimbex_cli::ConfigCommand},
    };
    return commands;
}

void ReportJsonFailure(const nimbex_cli::CallFailure& failure) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", failure.code());
    Json::Value j;
    j["error"]["code"] = failure.code();
    j["error"]["hex"] = hex;
    j["error"]["meaning"] = nimbex_cli::CodeMeaning(failure.code());
    j["error"]["what"] = failure.what();
    if (!failure.detail().empty()) j["error"]["detail"] = failure.detail();
    nimbex_cli::PrintJson(j);
}

}  // namespace

int main(int argc, char** argv) {
    nimbex_cli::Invocation inv;
    std::string module;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (option == "--module" && i + 1 < argc) {
            module = argv[++i];
        } else if (option.compare(0, 9, "--module=") == 0) {
            module = option.substr(9);
        } else if (option == "--json") {
            inv.json = true;
        } else if (option == "--quiet") {
            inv.quiet = true;
        } else {
            std::fprintf(stderr, "nimbex: unknown option %s (see nimbex --help)\n", option.c_str());
            return 2;
        }
    }
    if (i >= argc) {
        std::fprintf(stderr, "nimbex: no command given (see nimbex --help)\n");
        return 2;
    }
    const std::string name = argv[i];
    auto command = Commands().find(name);
    if (command == Commands().end()) {
        std::fprintf(stderr, "nimbex: unknown command '%s' (see nimbex --help)\n", name.c_str());
        return 2;
    }
    inv.words.assign(argv + i + 1, argv + argc);
    inv.modulePath = nimbex_cli::ModulePath(module);
    try {
        return command->second(inv);
    } catch (const nimbex_cli::UsageError& e) {
        std::fprintf(stderr, "nimbex %s: %s (see nimbex %s --help)\n", name.c_str(), e.what(),
                     name.c_str());
        return 2;
    } catch (const csphost::HostError& e) {
        const nimbex_cli::CallFailure failure(name + ": " + e.what(), e.code());
        if (inv.json) ReportJsonFailure(failure);
        std::fprintf(stderr, "%s\n", nimbex_cli::FailureLine(failure).c_str());
        return 1;
    } catch (const nimbex_cli::CallFailure& e) {
        if (inv.json) ReportJsonFailure(e);
        std::fprintf(stderr, "%s\n", nimbex_cli::FailureLine(e).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nimbex: %s\n", e.what());
        return 1;
    }
}
