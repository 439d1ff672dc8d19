#pragma once
// A local signature service whose certificates are linked in the user's
// store as containers of the reader, the registry and stores in temporary
// directories, and a CSP host over the built libnimbex.so.
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

    // `serviceName` of the local service saved per user with the demo user's
    // credentials; the tokens are not saved, so every context signs in.
    void SaveService(const std::string& serviceName) {
        setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1);
        urls = service.service(serviceName);
        entry = ServerSettings(urls.name.c_str(), urls.auth.c_str(), urls.sign.c_str(),
                               urls.docstore.c_str(), nullptr, false);
        SaveServerSettings(entry, false);
        SaveUserName(entry.name, SecretString("demo"));
        SavePassword(entry.name, SecretString("demo-password"));
    }
    void TearDown() override { unsetenv("NIMBEX_CA_FILE"); }

    // The DER of the service's certificate `id`, asked by a connector of the
    // test's own; the request log is cleared afterwards.
    Bytes ServiceCertificate(uint32_t id) {
        auto connector = boost::make_shared<KelContainerConnector>(urls.auth, urls.sign, "");
        connector->SetSilent(true);
        connector->SetCredentials("demo", "demo-password");
        const Bytes der = connector->GetCertificate(id).certificate;
        service.reset();
        return der;
    }

    // Links the service's certificate `id` as container `name`; the link's
    // certificate id is `linkedId` (0xFFFFFFFF: not known yet).
    Bytes Link(const std::string& name, uint32_t id, uint32_t keySpec, uint32_t linkedId,
               uint32_t permissions = 0, const Bytes& extensions = {}) {
        const Bytes der = ServiceCertificate(id);
        if (InstallCloudCertificateFromBytes(der, name, entry, linkedId, permissions, extensions,
                                             false, nullptr, 0, keySpec) != 0)
            ADD_FAILURE() << "linking " << name;
        return der;
    }

    csphost::HostOptions Options() {
        csphost::HostOptions options;
        options.storeDirectory = env.root() + "/host";
        options.silent = true;
        return options;
    }

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
};

}  // namespace nimbex_test
