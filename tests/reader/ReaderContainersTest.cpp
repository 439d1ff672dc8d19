// Containers and their files through the built libnimbex.so, driven by the
// CSP host, over certificates of the local signature service linked in the
// user's store.
#include <nimbex/reader.h>
#include <openssl/evp.h>

#include "../container/ContainerTestSupport.h"
#include "ReaderContainerFixture.h"
#include "TestCertificates.h"

namespace {

using csphost::Host;
using csphost::HostError;
using csphost::Session;

constexpr uint32_t kRsaKey = 1, kEcKey = 2;

// The SHA-1 of a certificate in URL-safe Base64, as the service is asked for it.
std::string Thumbprint(const std::vector<unsigned char>& der) {
    const std::vector<unsigned char> hash = nimbex_test::Sha1(der);
    unsigned char text[32] = {};
    EVP_EncodeBlock(text, hash.data(), static_cast<int>(hash.size()));
    std::string encoded(reinterpret_cast<char*>(text));
    for (char& c : encoded) c = c == '+' ? '-' : c == '/' ? '_' : c;
    return encoded;
}

class ReaderContainers : public nimbex_test::ReaderContainerFixture {
  protected:
    void SetUp() override { SaveService("local-v2"); }

    uint32_t Open(Host& host, Session& session, const char* name, uintptr_t flags = 0) {
        CloudOpenContainerRecord record{name ? strlen(name) : 0, name, 0, flags};
        return host.module().Call(CLOUD_OPEN_CONTAINER, session.context(), &record);
    }
};

TEST_F(ReaderContainers, OpenCloseAndPendingCreation) {
    Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    const uintptr_t create = CLOUD_OPEN_CONTAINER_CREATE;
    EXPECT_EQ(Open(host, session, "absent"), 2u);
    EXPECT_EQ(Open(host, session, ""), 87u);
    CloudOpenContainerRecord tooLong{4097, "signing", 0, 0};
    EXPECT_EQ(host.module().Call(CLOUD_OPEN_CONTAINER, session.context(), &tooLong), 87u);
    EXPECT_EQ(host.module().Call(CLOUD_OPEN_CONTAINER, session.context(), nullptr), 87u);
    EXPECT_EQ(Open(host, session, "signing", create), 0x8009000Fu) << "exists";
    CloudMediaParamRecord certificateId{CLOUD_PARAM_CERTIFICATE_ID, 5, nullptr};
    EXPECT_EQ(host.module().Call(CLOUD_SET_MEDIA_PARAM, session.context(), &certificateId),
              0x252D1303u)
        << "the existing container was not kept open";
    session.OpenContainer("signing");
    EXPECT_EQ(Open(host, session, "signing", create), 0u) << "the open one, even with create";
    EXPECT_EQ(Open(host, session, nullptr), 0u) << "a null name closes";
    EXPECT_EQ(host.module().Call(CLOUD_CLOSE_CONTAINER, nullptr, nullptr), 87u);

    EXPECT_EQ(Open(host, session, "new-key", create), 0u);
    EXPECT_EQ(Open(host, session, "new-key"), 0u);
    EXPECT_EQ(Open(host, session, "signing"), 0x80090020u) << "a creation is pending";
    session.CloseContainer();
    EXPECT_EQ(Open(host, session, "signing"), 0x80090020u) << "the pending name survives a close";
    EXPECT_TRUE(service.requestLog().empty()) << "opening asks nothing of the service";
}

// Two containers of the service and one of another service in the store:
// the enumeration lists the service's two in store order; their files and
// key information come from the links, without a request to the service.
TEST_F(ReaderContainers, EnumerateReadFilesAndKeyInfo) {
    const Bytes extensions = {1, 2, 3, 0, 5};
    const Bytes rsa = Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey, 0x31, extensions);
    const Bytes ec = Link("exchange", kEcKey, AT_KEYEXCHANGE, kEcKey);
    ServerSettings other("other", "https://auth.other.invalid/", "https://sign.other.invalid/api");
    SaveServerSettings(other, false);
    InstallCloudCertificateFromBytes(MakeCertificate(nimbex_test::KeyKind::Ec, "cn", 9),
                                     "elsewhere", other, 1, 0, {}, false, nullptr, 0, AT_SIGNATURE);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(urls.name);
    EXPECT_EQ(session.ContainerNames(), (std::vector<std::string>{"signing", "exchange"}));

    session.OpenContainer("signing");
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_SIGNATURE_CERTIFICATE), rsa);
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXTENSIONS), extensions);
    const Session::KeyInfo info = session.GetKeyInfo(AT_SIGNATURE);
    EXPECT_EQ(info.keySpec, uintptr_t(AT_SIGNATURE));
    EXPECT_EQ(info.keyType, 2u);
    EXPECT_EQ(info.algorithm, 0xAA24u);
    EXPECT_EQ(info.permissions, 0x31u);
    session.OpenContainer("exchange");
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXCHANGE_CERTIFICATE), ec);
    EXPECT_EQ(session.GetKeyInfo(AT_KEYEXCHANGE).permissions, 0u) << "none: word 8 untouched";

    // The answers the reader fixes for malformed or misplaced calls.
    void* ctx = session.context();
    const csphost::ReaderModule& m = host.module();
    CloudOpenFileRecord signatureFile{8, CLOUD_OPEN_FILE_READ, 1, 1,
                                      CLOUD_FILE_SIGNATURE_CERTIFICATE};
    CloudOpenFileRecord extensionsFile{8, CLOUD_OPEN_FILE_READ, 1, 1, CLOUD_FILE_EXTENSIONS};
    CloudOpenFileRecord unknownFile{8, CLOUD_OPEN_FILE_READ, 1, 1, 11};
    CloudOpenFileRecord shortRecord{7, CLOUD_OPEN_FILE_READ, 1, 1, CLOUD_FILE_EXTENSIONS};
    CloudKeyInfoRecord otherKey{AT_SIGNATURE, 0, 0, 0, 0, 0, 0, 0};
    CloudKeyInfoRecord nonZero{AT_KEYEXCHANGE, 0, 1, 0, 0, 0, 0, 0};
    CloudFileSizeRecord size{0};
    unsigned char byte = 0;
    CloudReadFileRecord read{0, 1, &byte};
    EXPECT_EQ(m.Call(CLOUD_OPEN_FILE, ctx, &signatureFile), 2u) << "an exchange key";
    EXPECT_EQ(m.Call(CLOUD_OPEN_FILE, ctx, &extensionsFile), 2u) << "no extensions";
    EXPECT_EQ(m.Call(CLOUD_OPEN_FILE, ctx, &unknownFile), 0x80090029u);
    EXPECT_EQ(m.Call(CLOUD_OPEN_FILE, ctx, &shortRecord), 87u);
    EXPECT_EQ(m.Call(CLOUD_GET_FILE_SIZE, ctx, &size), 0x252D1304u);
    EXPECT_EQ(m.Call(CLOUD_READ_FILE, ctx, &read), 0x252D1304u);
    EXPECT_EQ(m.Call(CLOUD_GET_KEY_INFO, ctx, &otherKey), 0x8009000Du);
    EXPECT_EQ(m.Call(CLOUD_GET_KEY_INFO, ctx, &nonZero), 0x80090020u);
    CloudOpenFileRecord exchangeFile{8, CLOUD_OPEN_FILE_READ, 1, 1,
                                     CLOUD_FILE_EXCHANGE_CERTIFICATE};
    ASSERT_EQ(m.Call(CLOUD_OPEN_FILE, ctx, &exchangeFile), 0u);
    read = {ec.size(), 1, &byte};
    EXPECT_EQ(m.Call(CLOUD_READ_FILE, ctx, &read), 0u) << "at the end";
    EXPECT_EQ(read.length, 0u);
    read = {ec.size() - 1, 5, &byte};
    EXPECT_EQ(m.Call(CLOUD_READ_FILE, ctx, &read), 0u);
    EXPECT_EQ(read.length, 1u);
    EXPECT_EQ(byte, ec.back());
    EXPECT_EQ(m.Call(CLOUD_CLOSE_FILE, nullptr, nullptr), 0u);
    session.CloseContainer();
    EXPECT_EQ(m.Call(CLOUD_GET_FILE_SIZE, ctx, &size), 0x252D1303u);
    EXPECT_EQ(m.Call(CLOUD_GET_KEY_INFO, ctx, &otherKey), 0x252D1303u);

    // A name longer than the capacity answers 234 with its length.
    CloudContainerEnumRecord walk{};
    ASSERT_EQ(m.Call(CLOUD_OPEN_CONTAINER_ENUM, ctx, &walk), 0u);
    EXPECT_EQ(walk.size, 4096u);
    EXPECT_EQ(walk.open, 4u);
    char small[4];
    walk.size = sizeof small;
    walk.buffer = small;
    EXPECT_EQ(m.Call(CLOUD_NEXT_CONTAINER, ctx, &walk), 234u);
    EXPECT_EQ(walk.size, 7u);
    EXPECT_EQ(m.Call(CLOUD_CLOSE_CONTAINER_ENUM, ctx, &walk), 0u);
    EXPECT_EQ(walk.enumerator, nullptr);
    EXPECT_EQ(m.Call(CLOUD_CLOSE_CONTAINER_ENUM, ctx, &walk), 87u);
    EXPECT_TRUE(service.requestLog().empty()) << Requests()[0];
}

// A container whose link has no certificate id yet: writing its extensions
// asks the service for the id by thumbprint once and keeps it in the link.
// Writing its certificate installs it on the service and links it again.
TEST_F(ReaderContainers, WriteExtensionsAndCertificate) {
    const Bytes rsa = Link("signing", kRsaKey, AT_SIGNATURE, 0xFFFFFFFF);
    Host host(NIMBEX_MODULE_PATH, Options());
    {
        Session session = host.Open(urls.name);
        session.Lock();
        session.OpenContainer("signing");
        session.WriteFile(CLOUD_FILE_EXTENSIONS, {7, 7});
        session.Unlock();
    }
    const std::string api = PathOf(urls.sign) + "/rest/api/",
                      token = PathOf(urls.auth) + "/oauth/token";
    EXPECT_EQ(Requests(), (std::vector<std::string>{
                              "GET " + api + "apiversion",
                              "POST " + token,
                              "GET " + api + "certificates?thumbprint=" + Thumbprint(rsa),
                              "POST " + api + "keys/1/params",
                          }));
    EXPECT_EQ(service.requestLog()[3]["body"].asString(),
              R"({"Data":"Bwc=","Param":"container_extensions"})"
              "\n");

    // The id was kept: the certificate is installed without asking again.
    service.reset();
    Session session = host.Open(urls.name);
    session.OpenContainer("signing");
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXTENSIONS), (Bytes{7, 7}));
    session.WriteFile(CLOUD_FILE_SIGNATURE_CERTIFICATE, rsa);
    EXPECT_EQ(Requests(),
              (std::vector<std::string>{"POST " + token, "POST " + api + "certificates/"}));
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXTENSIONS), (Bytes{7, 7})) << "the link's data stays";
    EXPECT_EQ(session.ContainerNames(), std::vector<std::string>{"signing"});
}

// Without real delete only the link goes; with it the service deletes the
// certificate first and the certificate leaves the store.
TEST_F(ReaderContainers, DeleteContainer) {
    for (const bool realDelete : {false, true}) {
        SCOPED_TRACE(realDelete ? "real delete" : "link only");
        SetModuleOption(kOptionRealDelete, realDelete);
        service.resetState();
        const Bytes rsa = Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey);
        Host host(NIMBEX_MODULE_PATH, Options());
        Session session = host.Open(urls.name);
        EXPECT_EQ(host.module().Call(CLOUD_DELETE_CONTAINER, session.context(), nullptr), 0u)
            << "no container open";
        session.Lock();
        session.OpenContainer("signing");
        session.DeleteContainer();
        session.Unlock();
        const std::string api = PathOf(urls.sign) + "/rest/api/";
        std::vector<std::string> expected;
        if (realDelete)
            expected = {"POST " + PathOf(urls.auth) + "/oauth/token", "GET " + api + "policy",
                        "DELETE " + api + "v2/certificates/1"};
        EXPECT_EQ(Requests(), expected);
        CertContextHandle stored = nimbex_test::FindStored(rsa);
        EXPECT_EQ(bool(stored), !realDelete);
        EXPECT_THROW(session.OpenContainer("signing"), HostError);
        EXPECT_TRUE(session.ContainerNames().empty());
        service.reset();
    }
}

}  // namespace
