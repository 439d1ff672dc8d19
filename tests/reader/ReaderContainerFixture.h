#pragma once
// The local signature service saved as a per-user service with the demo
// user's credentials, its certificates linked in the user's store as
// containers of the reader, registry and stores in temporary directories;
// the host's PIN is taken from NIMBEX_TEST_PIN.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "Host.h"
#include "LocalService.h"
#include "TempEnv.h"
#include "config/ModuleOptions.h"
#include "config/SavedCredentials.h"
#include "config/ServerSettings.h"
#include "container/CloudCertificateLink.h"
#include "operations/KelContainerConnector.h"

namespace nimbex_test {

class ReaderContainerFixture : public ::testing::Test {
  protected:
    using Bytes = std::vector<unsigned char>;

    void SaveService(const std::string& serviceName) {
        setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1);
        urls = service.service(serviceName);
        entry = ServerSettings(urls.name.c_str(), urls.auth.c_str(), urls.sign.c_str(),
                               urls.docstore.c_str(), nullptr, false);
        SaveServerSettings(entry, false);
        SaveUserName(entry.name, SecretString("demo"));
        SavePassword(entry.name, SecretString("demo-password"));
        api = PathOf(urls.sign) + "/rest/api/";
        token = "POST " + PathOf(urls.auth) + "/oauth/token";
    }
    void TearDown() override {
        unsetenv("NIMBEX_CA_FILE");
        unsetenv("NIMBEX_TEST_PIN");
    }

    // Links the service's certificate `id` (asked by a connector of the
    // test's own, the log cleared afterwards) as container `name` with the
    // certificate id `linkedId` (0xFFFFFFFF: not known yet); returns its DER.
    Bytes Link(const std::string& name, uint32_t id, uint32_t keySpec, uint32_t linkedId,
               uint32_t permissions = 0, const Bytes& extensions = {}) {
        auto connector = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, "");
        connector->SetSilent(true);
        connector->SetCredentials("demo", "demo-password");
        const Bytes der = connector->GetCertificate(id).certificate;
        service.reset();
        EXPECT_EQ(InstallCloudCertificateFromBytes(der, name, entry, linkedId, permissions,
                                                   extensions, false, nullptr, 0, keySpec),
                  0u);
        return der;
    }

    csphost::HostOptions Options() {
        csphost::HostOptions options;
        options.storeDirectory = env.root() + "/host";
        options.silent = true;
        options.pin = csphost::PinSource::Environment("NIMBEX_TEST_PIN");
        return options;
    }

    // A handler call with a record of words (none: a null record) and its expected answer.
    struct Answer {
        const char* what;
        uintptr_t id;
        std::vector<uintptr_t> record;
        uint32_t expected;
    };
    static void ExpectAnswers(csphost::Host& host, csphost::Session& session,
                              std::vector<Answer> answers) {
        for (Answer& a : answers)
            EXPECT_EQ(host.module().Call(a.id, session.context(),
                                         a.record.empty() ? nullptr : a.record.data()),
                      a.expected)
                << a.what;
    }

    // The reader's answer to a host call: 0, or the code of its HostError.
    template <class F>
    static uint32_t CodeOf(F&& call) {
        try {
            call();
            return 0;
        } catch (const csphost::HostError& e) {
            return e.code();
        }
    }

    // Another context takes the cloud lock and gives it back (a second take by the thread
    // that holds it fails).
    static bool TheLockIsFree(csphost::Host& host) {
        try {
            csphost::Session other = host.Open();
            other.Lock();
            other.Unlock();
        } catch (const csphost::HostError&) {
            return false;
        }
        return true;
    }

    static std::string PathOf(const std::string& url) { return url.substr(url.find('/', 8)); }

    // "METHOD target" of every logged request.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        for (const Json::Value& r : service.requestLog())
            lines.push_back(r["method"].asString() + " " + r["target"].asString());
        return lines;
    }

    TempEnv env;
    LocalService service;
    LocalServiceUrls urls;
    ServerSettings entry;
    std::string api, token;  // the REST path prefix, the sign-in request
};

}  // namespace nimbex_test
