// nimbex cert list | install | cleanup | linked
#include <cstdio>
#include <iostream>

#include "CertificateSummary.h"
#include "Commands.h"
#include "Failure.h"
#include "LinkedStore.h"
#include "PinSource.h"

namespace nimbex_cli {

namespace {

const char kUsage[] =
    "usage: nimbex cert list --service NAME [--json] [SIGN-IN]\n"
    "       nimbex cert install --service NAME --id ID [--container NAME] [--machine]\n"
    "                          [--provider NAME --provider-type N] [SIGN-IN]\n"
    "       nimbex cert cleanup --service NAME\n"
    "       nimbex cert linked [--machine] [--json]\n"
    "\n"
    "  list     the user's certificates on the service, with KeySpec, key\n"
    "           permissions and whether the key has a PIN\n"
    "  install  put certificate ID into the store \"My\" of the user (or of the\n"
    "           machine) linked to its cloud container\n"
    "  cleanup  remove from the user's store the linked certificates of the\n"
    "           service whose keys the service no longer has\n"
    "  linked   the certificates of the store \"My\" linked to cloud containers\n"
    "\n"
    "SIGN-IN: --user NAME with --password-env VAR, --password-fd N or\n"
    "--ask-password signs in with that password; without them the saved\n"
    "credentials or the browser application are used.\n";

const char* HasPinText(uint32_t hasPin) {
    return hasPin == 1 ? "yes" : hasPin == 2 ? "no" : "not stated";
}

const char* KeySpecText(uint32_t keySpec) {
    return keySpec == 1 ? "exchange" : keySpec == 2 ? "signature" : "other";
}

// The service record of --service, with the sign-in options.
struct ServiceRecord {
    std::string name, user, password;
    CloudServerSettings record{};

    explicit ServiceRecord(const CommandLine& line)
        : name(line.Required("service")), user(line.Value("user")) {
        password = ReadPassword(line);
        if (line.Has("user") != !password.empty()) {
            csphost::Wipe(password);
            throw UsageError("--user and a password source go together");
        }
        record.name = name.c_str();
        if (!user.empty()) {
            record.userName = user.c_str();
            record.password = password.c_str();
        }
    }
    ~ServiceRecord() { csphost::Wipe(password); }
};

struct Certificate {
    std::vector<uint8_t> der, extensions;
    CloudCertificateInfo info{};
    uint32_t hasPin = 0;
    std::string friendlyName;
};

std::vector<Certificate> ReadCertificates(Invocation& inv, const ServiceRecord& service) {
    ManagementApi& api = inv.api();
    KelCertificatesEnum* e = nullptr;
    Check(api.KelCertificatesEnumOpen(&service.record, &e), "cert list --service " + service.name);
    std::vector<Certificate> out;
    for (;;) {
        Certificate c;
        if (api.KelCertificateEnumHasPin(e, &c.hasPin) != 0) break;
        uint32_t result = api.KelCertificateEnumNext(e, &c.info);
        if (result == 0) {
            char name[1024];
            c.der.resize(c.info.certificateLength);
            c.extensions.resize(c.info.containerExtensionsLength);
            c.info.certificate = c.der.data();
            c.info.containerExtensions = c.extensions.empty() ? nullptr : c.extensions.data();
            c.info.friendlyName = name;
            c.info.friendlyNameCapacity = sizeof name;
            result = api.KelCertificateEnumNext(e, &c.info);
            c.friendlyName = name;
            c.info.friendlyName = nullptr;
        }
        if (result != 0) {
            api.KelCertificatesEnumClose(e);
            Check(result, "cert list --service " + service.name);
        }
        out.push_back(std::move(c));
    }
    api.KelCertificatesEnumClose(e);
    return out;
}

Json::Value CertificateJson(const Certificate& c) {
    Json::Value j = SummariseCertificate(c.der);
    j["id"] = c.info.certificateId;
    j["friendly_name"] = c.friendlyName;
    j["key_spec"] = c.info.keySpec;
    j["key_permissions"] = c.info.keyPermissions;
    j["has_pin"] = c.hasPin == 1   ? Json::Value(true)
                   : c.hasPin == 2 ? Json::Value(false)
                                   : Json::Value(Json::nullValue);
    j["container_extensions_length"] = static_cast<uint32_t>(c.extensions.size());
    return j;
}

int List(Invocation& inv, const CommandLine& line) {
    line.AtMost(1);
    const ServiceRecord service(line);
    Json::Value list(Json::arrayValue);
    for (const Certificate& c : ReadCertificates(inv, service)) list.append(CertificateJson(c));
    if (inv.json) {
        PrintJson(list);
        return 0;
    }
    if (list.empty()) std::printf("no certificates on %s\n", service.name.c_str());
    for (const Json::Value& c : list) {
        std::printf("%u  %s\n", c["id"].asUInt(), c["friendly_name"].asCString());
        std::printf("    subject:     %s\n    valid until: %s\n", c["subject"].asCString(),
                    c["not_after"].asCString());
        std::printf("    key spec:    %u (%s)\n    permissions: 0x%x\n    PIN:         %s\n",
                    c["key_spec"].asUInt(), KeySpecText(c["key_spec"].asUInt()),
                    c["key_permissions"].asUInt(),
                    HasPinText(c["has_pin"].isNull()   ? 0
                               : c["has_pin"].asBool() ? 1
                                                       : 2));
    }
    return 0;
}

int Install(Invocation& inv, const CommandLine& line) {
    line.AtMost(1);
    const ServiceRecord service(line);
    const unsigned long id = line.Number("id", 0);
    if (!line.Has("id")) throw UsageError("option --id is required");
    if (line.Has("provider") != line.Has("provider-type"))
        throw UsageError("--provider and --provider-type go together");
    for (Certificate& c : ReadCertificates(inv, service)) {
        if (c.info.certificateId != id) continue;
        const std::string container = line.Value("container");
        const std::wstring provider = Widen(line.Value("provider"));
        const std::string what = "cert install --id " + std::to_string(id);
        Check(inv.api().SetCloudCertificateToStore(
                  &service.record, &c.info, container.empty() ? nullptr : container.c_str(),
                  line.Has("machine") ? 1 : 0, provider.empty() ? nullptr : provider.c_str(),
                  static_cast<uint32_t>(line.Number("provider-type", 0))),
              what);
        std::string name = container;
        if (name.empty()) {
            char formed[64];
            uint32_t size = sizeof formed;
            Check(inv.api().FormContainerName(&service.record, c.info.certificateId, formed, &size),
                  what);
            name = formed;
        }
        const std::string link = "CLOUD\\" + service.name + "\\" + name;
        if (inv.json) {
            Json::Value j = CertificateJson(c);
            j["container"] = link;
            PrintJson(j);
        } else if (!inv.quiet) {
            std::printf("installed certificate %lu into the %s store \"My\" as %s\n", id,
                        line.Has("machine") ? "machine's" : "user's", link.c_str());
        }
        return 0;
    }
    throw CallFailure("cert install: the service has no certificate " + std::to_string(id), 2);
}

int Cleanup(Invocation& inv, const CommandLine& line) {
    line.AtMost(1);
    const std::string name = line.Required("service");
    Check(inv.api().UpdateCloudCertificates(name.c_str()), "cert cleanup --service " + name);
    if (inv.json)
        PrintJson(Json::Value(Json::objectValue));
    else if (!inv.quiet)
        std::printf("removed the stale linked certificates of %s\n", name.c_str());
    return 0;
}

int Linked(Invocation& inv, const CommandLine& line) {
    line.AtMost(1);
    Json::Value list(Json::arrayValue);
    for (const LinkedCertificate& c : ReadLinkedCertificates(line.Has("machine"))) {
        Json::Value j = SummariseCertificate(c.der);
        j["service"] = c.service;
        j["container"] = c.link;
        j["provider"] = c.provider;
        j["provider_type"] = c.providerType;
        list.append(j);
    }
    if (inv.json) {
        PrintJson(list);
        return 0;
    }
    if (list.empty()) std::printf("no linked certificates\n");
    for (const Json::Value& j : list)
        std::printf("%s\n    subject:  %s\n    provider: %s (type %u)\n",
                    j["container"].asCString(), j["subject"].asCString(), j["provider"].asCString(),
                    j["provider_type"].asUInt());
    return 0;
}

}  // namespace

int CertCommand(Invocation& inv) {
    const CommandLine line(inv.words,
                           {"service", "id", "container", "provider", "provider-type", "user",
                            "password-env", "password-fd"},
                           {"help", "json", "machine", "ask-password"});
    if (line.Has("help")) {
        std::cout << kUsage;
        return 0;
    }
    inv.json = inv.json || line.Has("json");
    const std::string sub = line.Positional(0, "cert subcommand (list, install, cleanup, linked)");
    if (sub == "list") return List(inv, line);
    if (sub == "install") return Install(inv, line);
    if (sub == "cleanup") return Cleanup(inv, line);
    if (sub == "linked") return Linked(inv, line);
    throw UsageError("unknown cert subcommand '" + sub + "'");
}

}  // namespace nimbex_cli
