// Installing certificates with a cloud link, choosing the provider, reading
// links back and rebuilding settings from old links.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ContainerTestSupport.h"
#include "TempEnv.h"
#include "TestProviders.h"
#include "config/RegistryAccess.h"

using namespace nimbex_test;

namespace {

ServerSettings Service(const std::string& name = "svc") {
    return ServerSettings(name, "https://auth.example/", "https://sign.example/api/");
}

struct RawLink {
    std::wstring fields;        // "container|provider|type|flags|key spec"
    std::vector<Bytes> params;  // data of each parameter (all must have id 222, flags 0)
};

RawLink ReadRaw(PCCERT_CONTEXT c) {
    RawLink raw;
    PropertyBuffer buffer;
    EXPECT_TRUE(buffer.Read(c, CERT_KEY_PROV_INFO_PROP_ID));
    const CRYPT_KEY_PROV_INFO* info = buffer.KeyProvInfo();
    if (!info) return raw;
    raw.fields = std::wstring(info->pwszContainerName ? info->pwszContainerName : L"<null>") +
                 L"|" + (info->pwszProvName ? info->pwszProvName : L"<null>") + L"|" +
                 std::to_wstring(info->dwProvType) + L"|" + std::to_wstring(info->dwFlags) + L"|" +
                 std::to_wstring(info->dwKeySpec);
    for (DWORD i = 0; i < info->cProvParam; ++i) {
        EXPECT_EQ(222u, info->rgProvParam[i].dwParam);
        EXPECT_EQ(0u, info->rgProvParam[i].dwFlags);
        raw.params.emplace_back(info->rgProvParam[i].pbData,
                                info->rgProvParam[i].pbData + info->rgProvParam[i].cbData);
    }
    return raw;
}

Bytes Blob(uint32_t id, const Bytes& payload) {
    return CloudLinkParam(id, payload).Blob();
}
Bytes Le32(uint32_t v) {
    return CloudLinkParam::FromNumber(0, v).payload;
}

// Writes a hand-made link on a context.
void SetLink(PCCERT_CONTEXT c, const std::wstring& container, const std::vector<Bytes>& blobs) {
    std::vector<Bytes> copies = blobs;
    std::vector<CRYPT_KEY_PROV_PARAM> params;
    for (Bytes& b : copies) params.push_back({222, b.data(), static_cast<DWORD>(b.size()), 0});
    std::wstring name = container;
    CRYPT_KEY_PROV_INFO info{name.data(),
                             nullptr,
                             75,
                             0,
                             static_cast<DWORD>(params.size()),
                             params.empty() ? nullptr : params.data(),
                             AT_KEYEXCHANGE};
    ASSERT_TRUE(CertSetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
}

// The provider chosen for a key of `kind`, as "name/type".
std::string Selected(KeyKind kind) {
    CertContextHandle c = CreateContext(MakeCertificate(kind, "p", 1));
    std::wstring name;
    uint32_t type = 0;
    SelectProvider(c.get(), &name, &type);
    return std::string(name.begin(), name.end()) + "/" + std::to_string(type);
}

}  // namespace

TEST(CloudCertificateLink, InstallWritesTheLinkAndReplacesIt) {
    TempEnv env;
    Bytes der = MakeCertificate(KeyKind::Rsa, "Alice", 11);
    ASSERT_EQ(0u, InstallCloudCertificateFromBytes(der, "KEL-1", Service(), 7, 0, {}, false,
                                                   nullptr, 0, AT_SIGNATURE));
    CertContextHandle stored = FindStored(der);
    ASSERT_TRUE(stored);
    EXPECT_FALSE(FindStored(der, true));
    RawLink raw = ReadRaw(stored.get());
    EXPECT_EQ(L"CLOUD\\svc\\KEL-1|Veltra Enhanced RSA and AES CSP|24|0|2", raw.fields);
    // Id 7, no permissions, no extensions: one parameter (id 8, length 4).
    EXPECT_EQ(std::vector<Bytes>{Blob(8, Le32(7))}, raw.params);
    // Read back by service and name: CloudStoreLinkTest, through the enumeration.

    // Machine-wide, with the caller's provider, permissions and extensions.
    der = MakeCertificate(KeyKind::Ec, "Bob", 12);
    Bytes ext{1, 2, 3};
    ASSERT_EQ(0u, InstallCloudCertificateFromBytes(der, "c", Service("other"), 0xFFFFFFFE, 0x30,
                                                   ext, true, L"Mine", 99, AT_KEYEXCHANGE));
    stored.Reset(FindStored(der, true).release());
    ASSERT_TRUE(stored);
    raw = ReadRaw(stored.get());
    EXPECT_EQ(L"CLOUD\\other\\c|Mine|99|32|1", raw.fields);
    EXPECT_EQ((std::vector<Bytes>{Blob(8, Le32(0xFFFFFFFE)), Blob(10, Le32(0x30)), Blob(9, ext)}),
              raw.params);
    // Installing again replaces the link of the one stored certificate.
    ASSERT_EQ(0u, InstallCloudCertificateFromBytes(der, "d", Service("other"), 5, 0, {}, true,
                                                   L"Mine", 99, AT_KEYEXCHANGE));
    StoreHandle store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"My"));
    int count = 0;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store.get(), c)) != nullptr) {
        ++count;
        EXPECT_EQ("d", ReadCloudContainerLink(c).containerName);
    }
    EXPECT_EQ(1, count);
}

TEST(CloudCertificateLink, InstallFailures) {
    TempEnv env;
    const Bytes der = MakeCertificate(KeyKind::Rsa, "long", 13);
    const auto install = [](const Bytes& certificate, const std::string& name) {
        return InstallCloudCertificateFromBytes(certificate, name, Service(), 1, 0, {}, false,
                                                nullptr, 0, 2);
    };
    EXPECT_KEL_THROW(install({1, 2, 3}, "c"), 0x80090020u,
                     "Cloud exception: The certificate context is not inited");
    // 6 + 3 + 1 + 250 characters and the terminator do not fit in 260 (249 do); invalid UTF-8
    // cannot be converted; a NUL inside is refused rather than cut short.
    for (const std::string& name :
         {std::string(250, 'x'), std::string("\xff"), std::string("a\0b", 3)})
        EXPECT_KEL_THROW(install(der, name), 0x80090020u,
                         "Cloud exception: Cannot use the supplied container name");
    EXPECT_EQ(0u, install(der, std::string(249, 'x')));
    // A store that cannot be created: the platform's error comes back.
    TempEnv blocked;
    setenv("NIMBEX_USER_DIR", "/proc/nimbex-no-such-dir", 1);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              InstallCloudCertificateFromBytes(der, "c", Service(), 1, 0, {}, false, L"P", 24, 2));
}

TEST(CloudCertificateLink, ProviderSelection) {
    TempEnv env;
    // Nothing registered: the defaults per algorithm.
    EXPECT_EQ("Veltra Enhanced RSA and AES CSP/24", Selected(KeyKind::Rsa));
    EXPECT_EQ("Veltra ECDSA and AES CSP/16", Selected(KeyKind::Ec));
    EXPECT_EQ("Veltra GOST R 34.10-2001 Cryptographic Service Provider/75",
              Selected(KeyKind::Ed25519));

    // Providers that do not qualify.
    RegisterProvider("A lower-case reader", 24, 1, {{"x", "cloud"}});
    RegisterProvider("B reader as nickname", 24, 1, {{"CLOUD", "OTHER"}});
    RegisterProvider("C no param", 24, -1, {{"x", "CLOUD"}});
    RegisterProvider("D wrong type", 16, 1, {{"x", "CLOUD"}});
    RegisterProvider("E empty list", 24, 1, {});
    EXPECT_EQ("Veltra Enhanced RSA and AES CSP/24", Selected(KeyKind::Rsa));
    EXPECT_EQ("D wrong type/16", Selected(KeyKind::Ec));

    // Qualifying providers without the stop mark: the last one wins.
    RegisterProvider("F", 24, 0, {{"a", "SMARTCARD"}, {"b", "CLOUD"}});
    RegisterProvider("H", 24, 2, {{"b", "CLOUD"}});
    EXPECT_EQ("H/24", Selected(KeyKind::Rsa));
    // A qualifying provider with 0x81 = 1 ends the search.
    RegisterProvider("G", 24, 1, {{"b", "CLOUD"}});
    EXPECT_EQ("G/24", Selected(KeyKind::Rsa));

    // A name without a type is not enough to skip the selection.
    Bytes der = MakeCertificate(KeyKind::Rsa, "sel", 14);
    ASSERT_EQ(
        0u, InstallCloudCertificateFromBytes(der, "c", Service(), 1, 0, {}, false, L"Given", 0, 2));
    EXPECT_EQ(L"CLOUD\\svc\\c|G|24|0|2", ReadRaw(FindStored(der).get()).fields);

    // Names are read into 1044 bytes: 260 characters and the terminator fit;
    // a longer name ends the enumeration there.
    TempEnv longNames;
    const std::string fits(260, 'K');
    RegisterProvider(fits, 24, 0, {{"b", "CLOUD"}});
    EXPECT_EQ(fits + "/24", Selected(KeyKind::Rsa));
    RegisterProvider(std::string(261, 'L'), 24, 1, {{"b", "CLOUD"}});
    RegisterProvider("M", 24, 1, {{"b", "CLOUD"}});
    EXPECT_EQ(fits + "/24", Selected(KeyKind::Rsa));
}

TEST(CloudCertificateLink, ReadingForeignAndOldLinks) {
    TempEnv env;
    CertContextHandle c = CreateContext(MakeCertificate(KeyKind::Rsa, "r", 15));
    EXPECT_FALSE(ReadCloudContainerLink(c.get()).isCloud);
    EXPECT_FALSE(ReadCloudContainerLink(nullptr).isCloud);
    const Bytes auth(std::begin("https://a.example/"), std::end("https://a.example/"));
    const Bytes rest{'h', 't', 't', 'p', 's', ':', '/', '/', 's', '/', 0, 'x'};
    Bytes cut = Blob(1, {'a', 'b'});
    cut[4] = 200;  // a length field beyond the data is cut to the data
    const struct {
        std::wstring container;
        std::vector<Bytes> params;
        const char* read;  // "service|container|auth|rest"; null: not a cloud link
    } cases[] = {
        {L"cloud\\svc\\c", {}, nullptr},
        {L"CLOUDX\\svc\\c", {}, nullptr},
        // Old links carry the URLs; the remainder is split at its first '\'.
        {L"CLOUD\\\\c\\d",
         {Blob(1, auth), Blob(2, rest), {2, 0, 0}, Blob(8, Le32(1))},
         "|c\\d|https://a.example/|https://s/"},
        {L"CLOUD\\name", {}, "|name||"},  // no separator: all of it is the container
        {L"CLOUD\\s\\n", {cut}, "s|n|ab|"},
        {L"CLOUD\\s\\n", {Blob(1, {}), Blob(2, {})}, "s|n||"},   // nothing after the header
        {L"CLOUD\\s\\" + std::wstring(260, L'n'), {}, nullptr},  // a name past 259 characters
    };
    for (const auto& t : cases) {
        SetLink(c.get(), t.container, t.params);
        const CloudContainerLink link = ReadCloudContainerLink(c.get());
        EXPECT_EQ(link.isCloud, t.read != nullptr) << t.container.size();
        if (!t.read) continue;
        EXPECT_EQ(
            link.serviceName + "|" + link.containerName + "|" + link.authUrl + "|" + link.restUrl,
            t.read);
    }
}

TEST(CloudCertificateLink, UpdateSettingsFromOldLinks) {
    TempEnv env;
    UpdateSettingsFromCertificates();  // no user store: nothing happens
    EXPECT_TRUE(EnumAllServerSettings().empty());

    SaveServerSettings(ServerSettings("known", "https://auth/", "https://known.example/api"), true);
    // A machine-wide entry that fails validation (a hand-edited registry).
    const std::string broken = std::string(kMachineSettingsBranch) + "\\broken\\";
    RegPutString(broken + "auth_URL", "not a url");
    RegPutString(broken + "rest_URL", "https://broken.example/api");
    auto text = [](const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); };
    auto addLink = [&](const std::wstring& container, const std::string& auth,
                       const std::string& rest, uint64_t serial) {
        CertContextHandle c = CreateContext(MakeCertificate(KeyKind::Ec, "u", serial));
        std::vector<Bytes> blobs{Blob(2, text(rest))};
        if (!auth.empty()) blobs.push_back(Blob(1, text(auth)));
        SetLink(c.get(), container, blobs);
        ASSERT_TRUE(AddToUserStore(c.get()));
    };
    addLink(L"CLOUD\\\\c1", "https://auth.one/", "https://one.example:8443/rest/v1", 101);  // new
    addLink(L"CLOUD\\\\c2", "https://auth.two/", "https://KNOWN.example/api", 102);  // stored
    addLink(L"CLOUD\\\\c3", "https://auth.b/", "https://broken.example/api",
            103);  // stored, invalid
    addLink(L"CLOUD\\svc\\c4", "https://auth.four/", "https://four.example/", 104);  // a service
    addLink(L"CLOUD\\\\c5", "", "https://five.example/", 105);                       // no auth URL
    addLink(L"OTHER\\\\c6", "https://auth.six/", "https://six.example/", 106);       // not cloud
    // Any stored entry with the link's REST URL counts, valid or not: a second
    // walk finds the same, and the lookup by that URL still finds the entry.
    for (int walk = 0; walk < 2; ++walk) {
        UpdateSettingsFromCertificates();
        const std::vector<ServerSettings> user = EnumServerSettings(false);
        ASSERT_EQ(1u, user.size());
        EXPECT_EQ("one_example_rest_v1", user[0].name);
        EXPECT_EQ("https://auth.one/", user[0].authUrl);
        EXPECT_EQ("https://one.example:8443/rest/v1", user[0].restUrl);
    }
    EXPECT_EQ(3u, EnumAllServerSettings().size());
    EXPECT_EQ("broken", FindServerSettings("https://broken.example/api", kServerParamRestUrl).name);

    // A REST URL that does not split stops the walk with the settings error.
    addLink(L"CLOUD\\\\c7", "https://a/", "no-scheme", 107);
    EXPECT_KEL_THROW(UpdateSettingsFromCertificates(), 0x80090020u,
                     "Cloud exception: Wrong rest server URL format");
}
