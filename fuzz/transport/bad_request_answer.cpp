// The transport's handling of a 400 answer, with the fuzz input as the body
// returned by a replaying client.
#include <boost/make_shared.hpp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/KelException.h"
#include "transport/KelUrlRetriever.h"

namespace {

class ReplayRetriever : public UrlRetriever {
  public:
    std::string body;
    int retrieve_url(const char*) override { return 0; }
    const char* get_data() const override { return body.data(); }
    size_t get_data_length() const override { return body.size(); }
    uint32_t get_error_code() const override { return 0; }
    long get_http_status() const override { return 400; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static KelUrlRetriever* transport = nullptr;
    static boost::shared_ptr<ReplayRetriever> client;
    if (transport == nullptr) {
        transport = new KelUrlRetriever(0, 0, false, true, true);
        client = boost::make_shared<ReplayRetriever>();
        transport->SetUrlRetriever(client);
    }
    client->body.assign(reinterpret_cast<const char*>(data), size);
    try {
        transport->Request("https://127.0.0.1/", {}, "");
        std::abort();  // a failed request must raise
    } catch (const KelException& e) {
        const std::string expected =
            size == 0 ? "Cloud exception: No server response data. Server code: 400"
                      : "Cloud exception: " + client->body;
        // what() is a C string: compare up to the first NUL of the body.
        if (std::strcmp(expected.c_str(), e.what()) != 0) std::abort();
        if (e.code() == 0) std::abort();
    }
    return 0;
}
