#include "ServiceWalkThrough.h"

#include <stdlib.h>
#include <time.h>

#include <boost/pointer_cast.hpp>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include "RegistryPlacement.h"
#include "ScratchDirectory.h"
#include "base/Wipe.h"
#include "config/ModuleOptions.h"
#include "config/RegistryAccess.h"
#include "config/ServerSettings.h"
#include "operations/KelContainerConnector.h"

namespace {

const char kAuthAppOption[] = "AuthApp";
const char kSignAction[] = "SignDocument";
// The default keys of the local service: key 1 is "Demo RSA key" with PIN "1234".
const uint32_t kDemoKeyId = 1;
const char kDemoKeyPin[] = "1234";

// A key algorithm id the module maps to each provider type it knows.
const struct {
    uint32_t providerType;
    uint32_t algId;
} kAlgorithmOfProvider[] = {{80, 0x2E49}, {75, 0x2E23}, {81, 0x2E3D}};

std::string YesNo(bool value) {
    return value ? "true" : "false";
}

std::string Join(const std::set<std::string>& items) {
    if (items.empty()) return "(none)";
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

std::string UtcTime(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string ServicesOf(const std::vector<ServerSettings>& list) {
    std::string out = std::to_string(list.size()) + (list.size() == 1 ? " entry" : " entries");
    for (size_t i = 0; i < list.size(); ++i)
        out += (i ? ", " : ": ") + list[i].name + " (rest_URL " + list[i].restUrl + ")";
    return out;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool ServiceWalkThrough::Run(const std::string& password) {
    std::printf("\nservice walk-through\n");
    std::printf(
        "  (management exports are not built yet; the walk-through uses the module's classes "
        "directly)\n");
    std::unique_ptr<ScratchDirectory> scratch;
    if (!log_.Expect("create temporary directory", [&] {
            scratch.reset(new ScratchDirectory());
            return scratch->path();
        }))
        return false;

    const std::string logFile = scratch->path() + "/service.log";
    const bool started = log_.Expect("start nimbex-localservice", [&] {
        service_.Start(options_.localServicePath, scratch->Sub("service"), options_.serviceConfig,
                       logFile);
        std::string names;
        for (const LocalServiceEntry& s : service_.services())
            names += (names.empty() ? "" : ", ") + s.name;
        return "ready, pid " + std::to_string(service_.pid()) + ", services " + names +
               ", discovery " + service_.discovery() + ", admin " + service_.admin();
    });
    if (!started) {
        const std::string messages = FileText(logFile);
        if (!messages.empty()) std::cerr << "nimbex-localservice says:\n" << messages;
    }

    if (started) {
        const RegistryPlacement placement(scratch->path());
        for (const RegistryPlacement::Place& p : placement.places())
            log_.Line(p.variable,
                      p.userSet ? "set by you, using " + p.directory : "temporary, " + p.directory);
        setenv("NIMBEX_CA_FILE", service_.caFile().c_str(), 1);
        log_.Line("NIMBEX_CA_FILE", service_.caFile() + " (the service's CA)");

        std::vector<ServerSettings> stored;
        if (PrepareRegistry(placement.UsesUserRegistry(), stored)) {
            for (const LocalServiceEntry& entry : service_.services()) {
                bool found = false;
                for (const ServerSettings& settings : stored) {
                    if (settings.name != entry.name) continue;
                    WalkService(settings, entry, password);
                    found = true;
                    break;
                }
                if (!found) log_.Fail("[" + entry.name + "]", "not listed back from the registry");
            }
            std::printf("\n");
        }
        if (placement.UsesUserRegistry()) RestoreRegistry();
        unsetenv("NIMBEX_CA_FILE");
    }

    if (service_.Running()) {
        std::string how;
        if (service_.Stop(how))
            log_.Line("stop nimbex-localservice (SIGTERM)", how);
        else
            log_.Fail("stop nimbex-localservice (SIGTERM)", how);
    }
    std::string error;
    const std::string scratchPath = scratch->path();
    if (scratch->Remove(error))
        log_.Line("remove temporary directory", "removed " + scratchPath);
    else
        log_.Fail("remove temporary directory", error);

    if (log_.failures() == 0)
        std::printf("\nwalk-through: every step that should work worked\n");
    else
        std::printf("\nwalk-through: %u step(s) failed\n", log_.failures());
    return log_.failures() == 0;
}

bool ServiceWalkThrough::PrepareRegistry(bool userRegistry, std::vector<ServerSettings>& stored) {
    bool ok = true;
    for (const LocalServiceEntry& entry : service_.services()) {
        if (userRegistry && FindServerSettings(entry.name, kServerParamName).isValid) {
            // Never overwrite the user's own entries: the demo removes what it
            // stores at the end.
            log_.Fail("SaveServerSettings(" + entry.name + ")",
                      "your registry already has an entry of that name; left alone");
            ok = false;
            continue;
        }
        ok &= log_.Expect("SaveServerSettings(" + entry.name + ", per-user)", [&] {
            const std::string description =
                "local signature service, API version " + std::to_string(entry.apiVersion);
            const ServerSettings settings(entry.name.c_str(), entry.auth.c_str(),
                                          entry.sign.c_str(),
                                          entry.docstore.empty() ? nullptr : entry.docstore.c_str(),
                                          description.c_str(), true);
            SaveServerSettings(settings, false);
            storedNames_.push_back(entry.name);
            return std::string("stored under ") + kUserSettingsBranch + "\\" + entry.name;
        });
    }
    ok &= log_.Expect("EnumAllServerSettings()", [&] {
        stored = EnumAllServerSettings();
        return ServicesOf(stored);
    });
    ok &= log_.Expect(std::string("set \"") + kAuthAppOption + "\"", [&] {
        const std::string path = std::string(kModuleOptionsSection) + kAuthAppOption;
        previousAuthApp_ = RegGetString(path);
        RegPutString(path, options_.authAppPath);
        authAppWritten_ = true;
        return path + " = " + GetAuthAppPath();
    });
    log_.Expect("ReadModuleOptions()", [] {
        const ModuleOptions o = ReadModuleOptions();
        return "Timeout " + std::to_string(o.timeout) + " ms, PermitHttp " + YesNo(o.permitHttp) +
               ", HttpErrorLevel " + std::to_string(o.httpErrorLevel) + ", HttpKeepAlive " +
               (o.keepAlivePresent ? YesNo(o.keepAliveValue) : std::string("not set"));
    });
    return ok;
}

void ServiceWalkThrough::RestoreRegistry() {
    for (const std::string& name : storedNames_)
        log_.Expect("DeleteServerSettings(" + name + ")", [&] {
            return DeleteServerSettings(name) ? std::string("removed from your registry")
                                              : std::string("was not there any more");
        });
    if (authAppWritten_)
        log_.Expect(std::string("restore \"") + kAuthAppOption + "\"", [&] {
            const std::string path = std::string(kModuleOptionsSection) + kAuthAppOption;
            if (previousAuthApp_.empty()) {
                RegDeleteParam(path);
                return std::string("removed (it was not set before)");
            }
            RegPutString(path, previousAuthApp_);
            return "back to " + previousAuthApp_;
        });
}

void ServiceWalkThrough::WalkService(const ServerSettings& settings, const LocalServiceEntry& entry,
                                     const std::string& password) {
    log_.Heading(settings.name);
    boost::shared_ptr<ContainerConnectorBase> connector;
    boost::shared_ptr<KelContainerConnector> kel;
    const bool created =
        log_.Expect("CreateKelContainerConnector(auth_URL, rest_URL, docstore_URL)", [&] {
            connector = CreateKelContainerConnector(settings.authUrl, settings.restUrl,
                                                    settings.docstoreUrl);
            kel = boost::dynamic_pointer_cast<KelContainerConnector>(connector);
            if (!kel) throw std::runtime_error("not a KelContainerConnector");
            return "sign server " + kel->SignUrl() + ", auth server " + kel->AuthUrl() +
                   ", resource " + kel->ResourceUrn();
        });
    if (!created) return;
    const ModuleOptions options = ReadModuleOptions();
    connector->SetTimeout(static_cast<uint16_t>(options.timeout));
    connector->SetPermitHttp(options.permitHttp);
    connector->SetHttpErrorLevel(options.httpErrorLevel);
    if (options.keepAlivePresent) connector->SetKeepAlive(options.keepAliveValue);

    // The probe's answers are checked against the version the service announced.
    auto probe = [&](const char* what, bool answer, bool expected) {
        if (answer == expected)
            log_.Line(what, YesNo(answer));
        else
            log_.Fail(what, YesNo(answer) + ", but the service has API version " +
                                std::to_string(entry.apiVersion));
    };
    probe("HasApiVersion1()", connector->HasApiVersion1(), entry.apiVersion >= 1);
    probe("HasApiVersion2()", connector->HasApiVersion2(), entry.apiVersion >= 2);
    probe("HasDocumentStore()", connector->HasDocumentStore(), !entry.docstore.empty());

    connector->SetCredentials(options_.login, password);
    log_.Line("SetCredentials(\"" + options_.login + "\", <password>)", "set");
    connector->SetSilent(true);
    log_.Line("SetSilent(true)", "the sign-in may not open the browser application");
    log_.Expect("sign-in: EnsureAuthenticated() (password grant)", [&] {
        kel->EnsureAuthenticated();
        const TokenRecord& token = kel->AccessToken();
        TSupTime now{0};
        support_gettimeofday(&now);
        const int64_t expiry = token.expiry.usec / 1000000;
        return "access token of " + std::to_string(token.value.size()) + " characters, expires " +
               UtcTime(expiry) + " (in " + std::to_string(expiry - now.usec / 1000000) + " s)";
    });
    log_.Expect("IsMfaRequired(\"" + std::string(kSignAction) + "\")",
                [&] { return YesNo(connector->IsMfaRequired(kSignAction)); });
    const std::map<uint32_t, std::set<std::string>>& paramSets = kel->Policy().paramSets;
    std::string types;
    for (const auto& p : paramSets) types += (types.empty() ? "" : ", ") + std::to_string(p.first);
    log_.Line("policy provider types", !kel->Policy().loaded ? std::string("(no policy loaded)")
                                       : types.empty()       ? std::string("(none)")
                                                             : types);
    for (const auto& p : paramSets) {
        uint32_t algId = 0;
        for (const auto& a : kAlgorithmOfProvider)
            if (a.providerType == p.first) algId = a.algId;
        if (algId == 0) {
            log_.Line("GetSupportedParamSets() for provider type " + std::to_string(p.first),
                      "no key algorithm of the module maps to this provider type; the policy "
                      "lists " +
                          Join(p.second));
            continue;
        }
        log_.Expect("GetSupportedParamSets(" + Hex(algId) + ") for provider type " +
                        std::to_string(p.first),
                    [&] { return Join(connector->GetSupportedParamSets(algId)); });
    }
    log_.Expect("GetSupportedParamSets(0) (every provider type)",
                [&] { return Join(connector->GetSupportedParamSets(0)); });

    log_.NotBuiltYet("GetCertificates()", [&] {
        const std::vector<CertificateRecord> records = connector->GetCertificates();
        std::string out = std::to_string(records.size()) + " certificates";
        for (const CertificateRecord& r : records)
            out += ", " + std::to_string(r.id) + " \"" + r.friendlyName + "\"";
        return out;
    });
    log_.NotBuiltYet("ValidatePin(" + std::to_string(kDemoKeyId) + ", <PIN>)", [&] {
        std::string pin = kDemoKeyPin;
        WipeOnExit wipePin(pin);
        uint32_t left = 0;
        const bool valid = connector->ValidatePin(kDemoKeyId, pin, &left);
        return (valid ? std::string("valid") : std::string("not valid")) + ", " +
               std::to_string(left) + " attempts left";
    });

    connector->SetSilent(false);
    log_.Line("SetSilent(false)", "the browser application may run");
    log_.Expect("SignOut() through nimbex-authapp", [&] {
        connector->SignOut();
        return std::string("signed out");
    });
    log_.Expect("DropTokens()", [&] {
        connector->DropTokens();
        return "tokens wiped, access token now " + std::to_string(kel->AccessToken().value.size()) +
               " characters";
    });
}
