#include "HttpFrontend.h"

#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "Codec.h"
#include "FaultInjector.h"
#include "RequestLog.h"

namespace localservice {

namespace {

HttpRequest convert(const httplib::Request& r) {
    HttpRequest req;
    req.method = r.method;
    req.target = r.target;
    req.path = r.path;
    for (const auto& h : r.headers) req.headers.push_back(h);
    // The query is split here rather than by the HTTP library: a value keeps every "=" after
    // the first one (Base64 padding), and "+" is a blank as in forms.
    size_t mark = r.target.find('?');
    if (mark != std::string::npos)
        for (const auto& q : parseForm(r.target.substr(mark + 1))) req.query.insert(q);
    return req;
}

void apply(const HttpResponse& out, httplib::Response& res) {
    res.status = out.status;
    for (const auto& h : out.headers) res.set_header(h.first.c_str(), h.second);
    if (out.drop) {
        res.set_content_provider(4096, "application/octet-stream",
                                 [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    if (!out.file.empty()) {
        std::shared_ptr<FILE> f(fopen(out.file.c_str(), "rb"), [](FILE* p) {
            if (p) fclose(p);
        });
        if (!f) {
            res.status = 404;
            res.set_content("{\"error\":\"invalid_request\"}", "application/json; charset=utf-8");
            return;
        }
        fseeko(f.get(), 0, SEEK_END);
        size_t size = static_cast<size_t>(ftello(f.get()));
        res.set_content_provider(size, out.contentType.c_str(),
                                 [f](size_t offset, size_t length, httplib::DataSink& sink) {
                                     static thread_local char buf[65536];
                                     if (fseeko(f.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
                                         return false;
                                     size_t n =
                                         fread(buf, 1, std::min(length, sizeof(buf)), f.get());
                                     if (n == 0) return false;
                                     return sink.write(buf, n);
                                 });
        return;
    }
    res.set_content(out.body, out.contentType.c_str());
}

// Connection handling shared by both servers. An answer goes out as two writes (headers, then
// body); with Nagle's algorithm the body would wait for the client's delayed ACK, about 40 ms
// on every reused connection. TCP_NODELAY is set on the listening socket, and accepted sockets
// inherit it on Linux. A client keeps its connection as long as it likes: no request limit and
// a long idle wait, with enough workers for the idle connections of many clients.
void tune(httplib::Server& server) {
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(60);
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
}

// Shuts down the reading side of every connection accepted on these ports. The HTTP library
// waits out the keep-alive time of idle connections before its workers end; after this they
// see the end of input at once, while answers being written still go out.
void endConnections(int servicePort, int adminPort) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        int fd = atoi(entry->d_name);
        if (fd <= 2 || fd == dirfd(dir)) continue;
        sockaddr_in local{}, peer{};
        socklen_t localLen = sizeof(local), peerLen = sizeof(peer);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0 ||
            local.sin_family != AF_INET)
            continue;
        int port = ntohs(local.sin_port);
        if ((port == servicePort || port == adminPort) &&
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0)
            shutdown(fd, SHUT_RD);
    }
    closedir(dir);
}

}  // namespace

struct HttpFrontend::Impl {
    ServiceApp& app;
    std::unique_ptr<httplib::Server> service;
    httplib::Server admin;
    std::thread serviceThread, adminThread;
    int servicePort = -1, adminPort = -1;

    Impl(ServiceApp& a, bool https, const std::string& cert, const std::string& key) : app(a) {
        if (https)
            service = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
        else
            service = std::make_unique<httplib::Server>();
        service->set_read_timeout(30, 0);
        service->set_write_timeout(30, 0);
        tune(*service);
        tune(admin);
        auto plain = [this](const httplib::Request& r, httplib::Response& res) {
            HttpRequest req = convert(r);
            req.body = r.body;
            req.bodySize = r.body.size();
            serve(req, req.body.substr(0, RequestLog::kMaxLoggedBody), res);
        };
        auto reading = [this](const httplib::Request& r, httplib::Response& res,
                              const httplib::ContentReader& reader) { read(r, res, reader); };
        service->Get(".*", plain);
        service->Delete(".*", plain);
        service->Post(".*", reading);
        service->Put(".*", reading);
        admin.Get(".*",
                  [this](const httplib::Request& r, httplib::Response& res) { adminCall(r, res); });
        admin.Post(
            ".*", [this](const httplib::Request& r, httplib::Response& res) { adminCall(r, res); });
    }

    void adminCall(const httplib::Request& r, httplib::Response& res) {
        HttpRequest req = convert(r);
        req.body = r.body;
        req.bodySize = r.body.size();
        HttpResponse out;
        app.handleAdmin(req, out);
        apply(out, res);
    }

    void read(const httplib::Request& r, httplib::Response& res,
              const httplib::ContentReader& reader) {
        HttpRequest req = convert(r);
        std::string prefix;
        if (app.streamsBody(r.path)) {
            req.bodyFile = app.context().documents().newTempPath();
            FILE* f = fopen(req.bodyFile.c_str(), "wb");
            bool ok = f != nullptr;
            reader([&](const char* data, size_t len) {
                if (!ok) return false;
                if (fwrite(data, 1, len, f) != len) ok = false;
                req.bodySize += len;
                if (prefix.size() < RequestLog::kMaxLoggedBody)
                    prefix.append(data, std::min(len, RequestLog::kMaxLoggedBody - prefix.size()));
                return ok;
            });
            if (f) fclose(f);
            serve(req, prefix, res);
            unlink(req.bodyFile.c_str());  // gone already when the store took it
            return;
        }
        uint64_t limit = app.context().runtime().maxRequestBytes;
        bool tooLarge = false;
        reader([&](const char* data, size_t len) {
            if (req.body.size() + len > limit) {
                tooLarge = true;
                return false;
            }
            req.body.append(data, len);
            return true;
        });
        req.bodySize = req.body.size();
        if (tooLarge) {
            app.context().log().add(req, req.body.substr(0, RequestLog::kMaxLoggedBody), "");
            HttpResponse out;
            out.error(400, "max_request_length_exceeded", "The request body is too large");
            apply(out, res);
            return;
        }
        serve(req, req.body.substr(0, RequestLog::kMaxLoggedBody), res);
    }

    void serve(const HttpRequest& req, const std::string& bodyPrefix, httplib::Response& res) {
        FaultInjector::Fault fault;
        bool faulty = app.context().faults().take(req.target, fault);
        std::string what;
        if (faulty)
            what = fault.drop     ? "drop"
                   : fault.status ? "status " + std::to_string(fault.status)
                                  : "delay";
        app.context().log().add(req, bodyPrefix, what);
        HttpResponse out;
        if (faulty) {
            if (fault.delayMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
            if (fault.drop) {
                out.drop = true;
                return apply(out, res);
            }
            if (fault.status) {
                out.status = fault.status;
                out.body = fault.body;
                out.contentType = fault.contentType;
                return apply(out, res);
            }
        }
        try {
            app.handleService(req, out);
        } catch (const Json::Exception& e) {
            // A JSON value of an unexpected shape deep inside a request body.
            out = HttpResponse();
            out.error(400, "invalid_request", e.what());
        } catch (const std::exception& e) {
            out = HttpResponse();
            out.error(500, "internal_error", e.what());
        }
        apply(out, res);
    }
};

HttpFrontend::HttpFrontend(ServiceApp& app, bool https, const std::string& certPath,
                           const std::string& keyPath)
    : impl_(std::make_unique<Impl>(app, https, certPath, keyPath)) {}

HttpFrontend::~HttpFrontend() {
    stop();
}

bool HttpFrontend::valid() const {
    return impl_->service->is_valid() && impl_->admin.is_valid();
}

int HttpFrontend::bindService(int port) {
    if (port == 0)
        port = impl_->service->bind_to_any_port("127.0.0.1");
    else if (!impl_->service->bind_to_port("127.0.0.1", port))
        port = -1;
    return impl_->servicePort = port;
}

int HttpFrontend::bindAdmin(int port) {
    if (port == 0)
        port = impl_->admin.bind_to_any_port("127.0.0.1");
    else if (!impl_->admin.bind_to_port("127.0.0.1", port))
        port = -1;
    return impl_->adminPort = port;
}

void HttpFrontend::start() {
    impl_->serviceThread = std::thread([this] { impl_->service->listen_after_bind(); });
    impl_->adminThread = std::thread([this] { impl_->admin.listen_after_bind(); });
    // Ready only when both accept loops run, so that a stop right after the start is not lost.
    for (int i = 0; i < 5000 && !(impl_->service->is_running() && impl_->admin.is_running()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpFrontend::stop() {
    if (!impl_) return;
    impl_->service->stop();
    impl_->admin.stop();
    endConnections(impl_->servicePort, impl_->adminPort);
    if (impl_->serviceThread.joinable()) impl_->serviceThread.join();
    if (impl_->adminThread.joinable()) impl_->adminThread.join();
}

}  // namespace localservice
