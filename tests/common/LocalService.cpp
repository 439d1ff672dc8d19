#include "LocalService.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#ifndef NIMBEX_LOCALSERVICE_PATH
#error NIMBEX_LOCALSERVICE_PATH must name the built nimbex-localservice
#endif
#ifndef NIMBEX_AUTHAPP_PATH
#define NIMBEX_AUTHAPP_PATH ""
#endif

namespace nimbex_test {

namespace {

size_t collect(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

}  // namespace

Json::Value JsonOf(const std::string& text) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    Json::Value v;
    std::string errors;
    return r->parse(text.data(), text.data() + text.size(), &v, &errors) ? v : Json::Value();
}

std::string CompactJson(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

HttpResult httpRequest(const std::string& method, const std::string& url,
                       const std::vector<std::string>& headers, const std::string& body,
                       const std::string& caFile, long timeoutSeconds) {
    HttpResult result;
    CURL* curl = curl_easy_init();
    if (!curl) throw std::runtime_error("curl_easy_init failed");
    curl_slist* list = nullptr;
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (list) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    if (method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        if (method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        if (method == "POST" || !body.empty()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.size()));
        }
    }
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    for (curl_header* h = nullptr; (h = curl_easy_nextheader(curl, CURLH_HEADER, -1, h));) {
        std::string name = h->name;
        for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        result.headers[name] = h->value;
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return result;
}

std::string LocalService::servicePath() {
    return NIMBEX_LOCALSERVICE_PATH;
}
std::string LocalService::authAppPath() {
    return NIMBEX_AUTHAPP_PATH;
}

LocalService::LocalService(const std::string& configJson, bool http) {
    char tmpl[] = "/tmp/nimbex-localservice-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    stateDir_ = root_ + "/state";
    std::vector<std::string> args = {servicePath(), "--state-dir", stateDir_};
    if (!configJson.empty()) {
        std::string configFile = root_ + "/config.json";
        std::ofstream(configFile) << configJson;
        args.push_back("--config");
        args.push_back(configFile);
    }
    if (http) args.push_back("--http");

    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The ready line, within a minute (key generation under sanitizers is slow).
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 500) <= 0) continue;
        char buf[4096];
        ssize_t n = read(out[0], buf, sizeof(buf));
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    ready_ = JsonOf(line.substr(0, line.find('\n')));  // without a whole line: not ready
    if (!ready_["ready"].asBool()) {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
        throw std::runtime_error("nimbex-localservice did not start: " + line);
    }
    discovery_ = ready_["discovery"].asString();
    caFile_ = ready_["caFile"].asString();
    admin_ = ready_["admin"].asString();
    for (const auto& s : ready_["services"])
        services_[s["name"].asString()] = {s["name"].asString(),     s["apiVersion"].asInt(),
                                           s["auth"].asString(),     s["sign"].asString(),
                                           s["docstore"].asString(), s["resource"].asString()};
}

LocalService::~LocalService() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

int LocalService::stop() {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pid_t r = 0;
    while ((r = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (r == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        exitStatus_ = -1;
    } else {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_ = -1;
    return exitStatus_;
}

Json::Value LocalService::admin(const std::string& method, const std::string& path,
                                const Json::Value* body) const {
    std::vector<std::string> headers;
    std::string text;
    if (body) {
        text = CompactJson(*body);
        headers.push_back("Content-Type: application/json");
    }
    HttpResult r = httpRequest(method, admin_ + path, headers, text, "", 30);
    const Json::Value out = JsonOf(r.body);
    if (r.status != 200 || out.isNull())
        throw std::runtime_error("admin request " + path + " failed: " + std::to_string(r.status) +
                                 " " + r.body);
    return out;
}

Json::Value LocalService::requestLog() const {
    return admin("GET", "/admin/requests", nullptr);
}
void LocalService::reset() const {
    admin("POST", "/admin/reset", nullptr);
}
void LocalService::resetState() const {
    admin("POST", "/admin/reset-state", nullptr);
}

void LocalService::injectFault(const LocalServiceFault& f) const {
    Json::Value v;
    v["count"] = f.count;
    if (f.status) v["status"] = f.status;
    if (!f.body.empty()) v["body"] = f.body;
    if (f.drop) v["drop"] = true;
    if (f.delayMs) v["delayMs"] = f.delayMs;
    if (!f.pathContains.empty()) v["pathContains"] = f.pathContains;
    admin("POST", "/admin/faults", &v);
}

Json::Value LocalService::configure(const Json::Value& settings) const {
    return admin("POST", "/admin/config", &settings);
}

void LocalService::expireTokens(const std::string& kind) const {
    Json::Value v;
    v["kind"] = kind;
    admin("POST", "/admin/expire-tokens", &v);
}

}  // namespace nimbex_test
