// nimbex-authapp: the browser application for the local signature service. It plays the
// user without a window: given the authorization URL it signs in on the service's sign-in
// page (confirming the operation named in the URL) and prints the redirect's parameters as
// one line of "&"-separated key=value pairs; given the sign-out URL it signs the user out and
// prints error_message=cancelled_by_user.
#include <json/json.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "AuthAppConfig.h"
#include "HtmlForm.h"
#include "HttpSession.h"
#include "Secret.h"

using namespace authapp;

namespace {

const char kSignOutPath[] = "/Authentication/SignOut";

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The "error" of a JSON error answer, or internal_error.
std::string errorOf(const std::string& body) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    Json::Value v;
    std::string errors;
    if (r->parse(body.data(), body.data() + body.size(), &v, &errors) && v.isObject() &&
        v["error"].isString())
        return v["error"].asString();
    return "internal_error";
}

int signOut(AuthAppConfig& cfg, HttpSession& http, const std::string& url) {
    long status = 0;
    Secret body;
    if (!http.request(url, nullptr, status, body.mut(), cfg.login.get(), cfg.password.get()) ||
        status != 200) {
        printLine("error_message=internal_error");
        return 0;
    }
    printLine("error_message=cancelled_by_user");
    return 0;
}

int signIn(AuthAppConfig& cfg, HttpSession& http, const std::string& url) {
    long status = 0;
    Secret page;
    if (!http.request(url, nullptr, status, page.mut())) {
        printLine("error_message=internal_error");
        return 0;
    }
    HtmlForm form;
    if (status != 200 || !findForm(page.get(), "signin", form)) {
        printLine("error=" + errorOf(page.get()));
        return 0;
    }
    Secret post;
    for (const auto& h : form.hidden) {
        if (h.first == "error") continue;
        post.mut() += http.escape(h.first) + "=" + http.escape(h.second) + "&";
    }
    {
        Secret login(http.escape(cfg.login.get()));
        Secret password(http.escape(cfg.password.get()));
        post.mut() += "login=" + login.get() + "&password=" + password.get();
    }
    post.mut() += cfg.mode == "cancel" ? "&action=cancel" : "&action=signin";
    Secret answer;
    if (!http.request(form.action, &post.get(), status, answer.mut())) {
        printLine("error_message=internal_error");
        return 0;
    }
    HtmlForm result;
    if (status == 200 && findForm(answer.get(), "redirect", result)) {
        Secret line;
        for (const auto& h : result.hidden) {
            if (!line.get().empty()) line.mut() += "&";
            line.mut() += h.first + "=" + h.second;
        }
        for (auto& h : result.hidden) wipe(h.second);
        printLine(line.get());
        return 0;
    }
    if (status == 200 && findForm(answer.get(), "signin", result)) {
        std::string error = result.hiddenValue("error");
        printLine("error_message=" + (error.empty() ? std::string("invalid_grant") : error));
        return 0;
    }
    printLine("error=" + errorOf(answer.get()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: nimbex-authapp URL\n";
        return 2;
    }
    std::string url = argv[1];
    AuthAppConfig cfg;
    std::string message;
    if (!cfg.load(message)) {
        std::cerr << "nimbex-authapp: " << message << "\n";
        return 2;
    }
    if (cfg.mode == "fail") return 1;
    if (cfg.mode == "error") {
        printLine("error_message=" + cfg.error);
        return 0;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int rc = 0;
    {
        HttpSession http(cfg.caFile, cfg.timeoutSeconds);
        size_t query = url.find('?');
        std::string path = url.substr(0, query);
        rc = endsWith(path, kSignOutPath) ? signOut(cfg, http, url) : signIn(cfg, http, url);
    }
    curl_global_cleanup();
    return rc;
}
