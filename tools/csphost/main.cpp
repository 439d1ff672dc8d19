// nimbex-csphost: plays the CSP over libnimbex.so, for trying the reader by hand.
//
//   nimbex-csphost [options] info
//   nimbex-csphost [options] services
//   nimbex-csphost [options] select SERVICE
//
// SERVICE is a name or an index. Options:
//   --module PATH     the module (default: $NIMBEX_MODULE, else the installed
//                     tree's, else the build tree's)
//   --store DIR       the protected store's directory
//   --pin-env VAR     take PINs from an environment variable
//   --pin-fd N        take PINs from a file descriptor, one line each
//   --pin-tty         ask for PINs on the terminal (the default)
//   --local-context   the caller keeps a local context (tokens in the store)
//   --silent          no user interaction
//   --machine         the machine's stores instead of the user's
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Host.h"
#include "ModuleLocation.h"

#ifndef NIMBEX_DEFAULT_MODULE
#define NIMBEX_DEFAULT_MODULE "libnimbex.so"
#endif

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: nimbex-csphost [--module PATH] [--store DIR] [--pin-env VAR | --pin-fd N "
                 "| --pin-tty]\n"
                 "                      [--local-context] [--silent] [--machine]\n"
                 "                      info | services | select SERVICE\n");
    return 2;
}

bool IsIndex(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int Select(csphost::Host& host, const std::string& service) {
    csphost::Session session =
        IsIndex(service) ? host.Open(std::stoul(service)) : host.Open(service);
    const std::string container = session.DefaultContainer();
    std::printf("service:           %s\n", session.ServiceName().c_str());
    std::printf("default container: %s\n", container.empty() ? "(none)" : container.c_str());
    std::printf("capabilities:      0x%04x\n", session.MediaCapabilities());
    std::printf("key creation:      %s\n", session.CanCreateKeys() ? "allowed" : "not allowed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    csphost::HostOptions options;
    options.pin = csphost::PinSource::Terminal();
    std::string module;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--module" && hasValue) {
            module = argv[++i];
        } else if (option == "--store" && hasValue) {
            options.storeDirectory = argv[++i];
        } else if (option == "--pin-env" && hasValue) {
            options.pin = csphost::PinSource::Environment(argv[++i]);
        } else if (option == "--pin-fd" && hasValue) {
            options.pin = csphost::PinSource::Descriptor(std::atoi(argv[++i]));
        } else if (option == "--pin-tty") {
            options.pin = csphost::PinSource::Terminal();
        } else if (option == "--local-context") {
            options.localContext = true;
        } else if (option == "--silent") {
            options.silent = true;
        } else if (option == "--machine") {
            options.machine = true;
        } else {
            return Usage();
        }
    }
    if (i >= argc) return Usage();
    const std::string command = argv[i++];
    try {
        csphost::Host host(csphost::ModuleLocation(module), options);
        if (command == "info" && i == argc) {
            const csphost::ReaderInfo info = host.Info();
            std::printf("reader:      %s\nmedia:       %s\ndescription: %s\n",
                        info.readerName.c_str(), info.mediaName.c_str(), info.description.c_str());
            return 0;
        }
        if (command == "services" && i == argc) {
            const std::vector<std::string> names = host.ServiceNames();
            for (size_t n = 0; n < names.size(); ++n) std::printf("%zu  %s\n", n, names[n].c_str());
            if (names.empty()) std::printf("no services configured\n");
            return 0;
        }
        if (command == "select" && i + 1 == argc) return Select(host, argv[i]);
        return Usage();
    } catch (const csphost::HostError& e) {
        std::fprintf(stderr, "nimbex-csphost: %s\n", e.what());
        return 1;
    }
}
