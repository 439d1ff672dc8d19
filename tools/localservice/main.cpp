// nimbex-localservice: a signature service (auth server, sign server, document store) on
// 127.0.0.1 for tests and demonstrations.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Codec.h"
#include "GostEngine.h"
#include "HttpFrontend.h"
#include "ServiceApp.h"
#include "ServiceConfig.h"
#include "ServiceContext.h"

using namespace localservice;

namespace {

void usage() {
    std::cerr << "usage: nimbex-localservice [--port N] [--admin-port N] [--state-dir DIR] "
                 "[--config FILE] [--http]\n";
}

bool parsePort(const char* text, int& port) {
    uint32_t v = 0;
    if (!parseUInt32(text, v) || v > 65535) return false;
    port = static_cast<int>(v);
    return true;
}

bool makeDirs(const std::string& path) {
    std::string partial;
    std::stringstream ss(path);
    std::string piece;
    if (!path.empty() && path[0] == '/') partial = "/";
    while (std::getline(ss, piece, '/')) {
        if (piece.empty()) continue;
        partial += piece + "/";
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0, adminPort = 0;
    bool https = true;
    std::string stateDir, configFile;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--port" && hasValue) {
            if (!parsePort(argv[++i], port)) return usage(), 2;
        } else if (a == "--admin-port" && hasValue) {
            if (!parsePort(argv[++i], adminPort)) return usage(), 2;
        } else if (a == "--state-dir" && hasValue) {
            stateDir = argv[++i];
        } else if (a == "--config" && hasValue) {
            configFile = argv[++i];
        } else if (a == "--http") {
            https = false;
        } else {
            usage();
            return 2;
        }
    }
    if (stateDir.empty()) {
        const char* home = getenv("HOME");
        stateDir = std::string(home ? home : ".") + "/.nimbex-localservice";
    }
    if (!makeDirs(stateDir)) {
        std::cerr << "nimbex-localservice: cannot create " << stateDir << "\n";
        return 1;
    }
    ServiceConfig config = ServiceConfig::defaults();
    if (!configFile.empty()) {
        std::ifstream in(configFile);
        std::stringstream text;
        text << in.rdbuf();
        Json::Value root;
        if (!in || !parseJson(text.str(), root)) {
            std::cerr << "nimbex-localservice: " << configFile << " is not a JSON document\n";
            return 2;
        }
        try {
            config = ServiceConfig::fromJson(root);
        } catch (const std::exception& e) {
            std::cerr << "nimbex-localservice: " << configFile << ": " << e.what() << "\n";
            return 2;
        }
    }

    // Signals are taken by sigwait below; the server threads inherit the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        ServiceContext ctx(config, stateDir);
        std::string certPath, keyPath;
        ctx.ca().ensureServerCertificate(stateDir, certPath, keyPath);
        ServiceApp app(ctx);
        HttpFrontend frontend(app, https, certPath, keyPath);
        if (!frontend.valid()) {
            std::cerr << "nimbex-localservice: cannot set up the servers\n";
            return 1;
        }
        int boundPort = frontend.bindService(port);
        int boundAdmin = frontend.bindAdmin(adminPort);
        if (boundPort <= 0 || boundAdmin <= 0) {
            std::cerr << "nimbex-localservice: cannot bind the ports\n";
            return 1;
        }
        std::string base =
            std::string(https ? "https" : "http") + "://127.0.0.1:" + std::to_string(boundPort);
        ctx.setBaseUrl(base);
        Json::Value ready;
        ready["ready"] = true;
        ready["discovery"] = base;
        ready["admin"] = "http://127.0.0.1:" + std::to_string(boundAdmin);
        ready["caFile"] = ctx.ca().caFile();
        ready["port"] = boundPort;
        ready["adminPort"] = boundAdmin;
        ready["stateDir"] = stateDir;
        ready["pid"] = static_cast<int>(getpid());
        const gost::Engine& engine = gost::Engine::Get();
        ready["gost"]["available"] = engine.available();
        ready["gost"]["engine"] = engine.path();
        if (!engine.available()) ready["gost"]["problem"] = engine.problem();
        Json::Value services(Json::arrayValue);
        for (const auto& s : ctx.config().services) {
            Json::Value e;
            e["name"] = s.name;
            e["apiVersion"] = s.apiVersion;
            e["auth"] = ctx.authUrl(s);
            e["sign"] = ctx.signUrl(s);
            e["docstore"] = ctx.docsUrl(s);
            e["resource"] = s.resourceUrn();
            services.append(e);
        }
        ready["services"] = services;
        app.setAdmin(std::make_unique<AdminEndpoints>(ctx, ready));
        frontend.start();
        std::cout << toJson(ready) << std::endl;

        int sig = 0;
        sigwait(&signals, &sig);
        frontend.stop();
    } catch (const std::exception& e) {
        std::cerr << "nimbex-localservice: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
