#include "TestServer.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace transport_test {

struct TestServer::Impl {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    mutable std::mutex mutex;
    std::vector<SeenRequest> seen;
    int status = 200;
    std::string body = "answer";
};

TestServer::TestServer(const std::string& certFile, const std::string& keyFile,
                       const std::string& host)
    : impl_(new Impl), tls_(!certFile.empty()), host_(host) {
    impl_->server.reset(tls_ ? new httplib::SSLServer(certFile.c_str(), keyFile.c_str())
                             : new httplib::Server);
    httplib::Server& s = *impl_->server;
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        SeenRequest seen{req.method, req.path, {}, req.body, req.remote_port};
        for (const auto& h : req.headers) seen.headers.emplace(h.first, h.second);
        int status;
        std::string body;
        {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            impl_->seen.push_back(std::move(seen));
            status = impl_->status;
            body = impl_->body;
        }
        if (req.path == "/answer") {
            res.status = status;
            res.set_content(body, "application/json");
        } else if (req.path == "/sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            res.set_content("late", "text/plain");
        } else if (req.path == "/redirect/same") {
            res.status = 302;
            res.set_header("Location", Url("/answer"));
        } else if (req.path == "/redirect/loop") {
            res.status = 307;
            res.set_header("Location", "/redirect/loop");
        } else {
            res.set_content("ok", "text/plain");
        }
    };
    s.Get(".*", handler);
    s.Post(".*", handler);
    s.set_tcp_nodelay(true);
    s.set_keep_alive_max_count(100000);
    s.set_keep_alive_timeout(1);  // idle connections end soon after stop()
    port_ = s.bind_to_any_port(host_);
    if (port_ <= 0) throw std::runtime_error("test server cannot bind");
    impl_->thread = std::thread([&s] { s.listen_after_bind(); });
    for (int i = 0; i < 500 && !s.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TestServer::~TestServer() {
    impl_->server->stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

std::string TestServer::Url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://" + host_ + ":" + std::to_string(port_) +
           path;
}

void TestServer::SetAnswer(int status, const std::string& body) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->status = status;
    impl_->body = body;
}

std::vector<SeenRequest> TestServer::Seen() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->seen;
}

void TestServer::ClearSeen() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->seen.clear();
}

}  // namespace transport_test
