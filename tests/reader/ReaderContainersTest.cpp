// Containers and their files through the built libnimbex.so, driven by the
// CSP host, over certificates of the local signature service linked in the
// user's store.
#include <nimbex/reader.h>
#include <openssl/evp.h>

#include "../container/ContainerTestSupport.h"
#include "ReaderContainerFixture.h"

namespace {

using csphost::Host;
using csphost::HostError;
using csphost::Session;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kRsaKey = 1, kEcKey = 2;

class ReaderContainers : public nimbex_test::ReaderContainerFixture {
  protected:
    void SetUp() override { SaveService("local-v2"); }
};

TEST_F(ReaderContainers, OpenCloseAndPendingCreation) {
    Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    const auto name = [](const char* text) { return reinterpret_cast<uintptr_t>(text); };
    const uintptr_t create = CLOUD_OPEN_CONTAINER_CREATE;
    const Answer noContainer{"no container", CLOUD_SET_MEDIA_PARAM, {16, 5, 0}, 0x252D1303};
    ExpectAnswers(
        host, session,
        {{"absent", CLOUD_OPEN_CONTAINER, {6, name("absent"), 0, 0}, 2},
         {"empty", CLOUD_OPEN_CONTAINER, {0, name(""), 0, 0}, 87},
         {"too long", CLOUD_OPEN_CONTAINER, {4097, name("signing"), 0, 0}, 87},
         {"exists", CLOUD_OPEN_CONTAINER, {7, name("signing"), 0, create}, 0x8009000F},
         noContainer,
         {"open", CLOUD_OPEN_CONTAINER, {7, name("signing"), 0, 0}, 0},
         {"the open one", CLOUD_OPEN_CONTAINER, {7, name("signing"), 0, create}, 0},
         {"null name", CLOUD_OPEN_CONTAINER, {7, 0, 0, 0}, 0},
         noContainer,
         {"create", CLOUD_OPEN_CONTAINER, {3, name("new"), 0, create}, 0},
         {"the pending one", CLOUD_OPEN_CONTAINER, {3, name("new"), 0, 0}, 0},
         {"another", CLOUD_OPEN_CONTAINER, {7, name("signing"), 0, 0}, 0x80090020},
         {"close", CLOUD_CLOSE_CONTAINER, {}, 0},
         {"still pending", CLOUD_OPEN_CONTAINER, {7, name("signing"), 0, 0}, 0x80090020}});
    EXPECT_EQ(host.module().Call(CLOUD_CLOSE_CONTAINER, nullptr, nullptr), 87u);
    EXPECT_TRUE(service.requestLog().empty()) << "opening asks nothing of the service";
}

// Two containers of the service, in store order (other services' containers left out:
// CloudStoreLinkTest); files and key information from the links, without a request to the
// service.
TEST_F(ReaderContainers, EnumerateReadFilesAndKeyInfo) {
    const Bytes extensions = {1, 2, 3, 0, 5};
    const Bytes rsa = Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey, 0x31, extensions);
    const Bytes ec = Link("exchange", kEcKey, AT_KEYEXCHANGE, kEcKey);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(urls.name);
    EXPECT_EQ(session.ContainerNames(), (std::vector<std::string>{"signing", "exchange"}));

    session.OpenContainer("signing");
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_SIGNATURE_CERTIFICATE), rsa);
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXTENSIONS), extensions);
    const Session::KeyInfo info = session.GetKeyInfo(AT_SIGNATURE);
    EXPECT_EQ(
        std::vector<uintptr_t>({info.keySpec, info.keyType, info.algorithm, info.permissions}),
        std::vector<uintptr_t>({AT_SIGNATURE, 2, 0xAA24, 0x31}));
    session.OpenContainer("exchange");
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXCHANGE_CERTIFICATE), ec);
    unsigned char byte = 0;
    const uintptr_t buffer = reinterpret_cast<uintptr_t>(&byte);
    ExpectAnswers(host, session,
                  {{"the other key's file", CLOUD_OPEN_FILE, {8, 1, 1, 1, 9}, 2},
                   {"no extensions", CLOUD_OPEN_FILE, {8, 1, 1, 1, 10}, 2},
                   {"no such file", CLOUD_OPEN_FILE, {8, 1, 1, 1, 11}, 0x80090029},
                   {"short record", CLOUD_OPEN_FILE, {7, 1, 1, 1, 8}, 87},
                   {"no file open", CLOUD_READ_FILE, {0, 1, buffer}, 0x252D1304},
                   {"the other key", CLOUD_GET_KEY_INFO, {2, 0, 0, 0, 0, 0, 0, 0}, 0x8009000D},
                   {"word 3 set", CLOUD_GET_KEY_INFO, {1, 0, 1, 0, 0, 0, 0, 0}, 0x80090020},
                   {"open", CLOUD_OPEN_FILE, {8, 1, 1, 1, 8}, 0},
                   {"at the end", CLOUD_READ_FILE, {ec.size(), 1, buffer}, 0}});
    std::vector<uintptr_t> lastByte{ec.size() - 1, 5, buffer};
    EXPECT_EQ(host.module().Call(CLOUD_READ_FILE, session.context(), lastByte.data()), 0u);
    EXPECT_EQ(std::make_pair(byte, lastByte[1]), std::make_pair(ec.back(), uintptr_t(0)));
    EXPECT_TRUE(service.requestLog().empty()) << Requests()[0];
}

// A link without a certificate id: writing the extensions asks the service
// for the id by thumbprint once and keeps it; writing the certificate then
// installs it on the service and links it again, the link's data kept.
TEST_F(ReaderContainers, WriteExtensionsAndCertificate) {
    const Bytes rsa = Link("signing", kRsaKey, AT_SIGNATURE, 0xFFFFFFFF);
    const Bytes hash = nimbex_test::Sha1(rsa);
    unsigned char text[32] = {};
    EVP_EncodeBlock(text, hash.data(), static_cast<int>(hash.size()));
    std::string thumbprint(reinterpret_cast<char*>(text));
    for (char& c : thumbprint) c = c == '+' ? '-' : c == '/' ? '_' : c;
    Host host(NIMBEX_MODULE_PATH, Options());
    {
        Session session = host.Open(urls.name);
        session.OpenContainer("signing");
        session.WriteFile(CLOUD_FILE_EXTENSIONS, {7, 7});
    }
    EXPECT_EQ(Requests(),
              (std::vector<std::string>{"GET " + api + "apiversion", token,
                                        "GET " + api + "certificates?thumbprint=" + thumbprint,
                                        "POST " + api + "keys/1/params"}));
    service.reset();
    Session session = host.Open(urls.name);
    session.OpenContainer("signing");
    session.WriteFile(CLOUD_FILE_SIGNATURE_CERTIFICATE, rsa);
    EXPECT_EQ(Requests(), (std::vector<std::string>{token, "POST " + api + "certificates/"}));
    EXPECT_EQ(session.ReadFile(CLOUD_FILE_EXTENSIONS), (Bytes{7, 7}));
    EXPECT_EQ(session.ContainerNames(), std::vector<std::string>{"signing"});
}

// Without real delete only the link goes; with it the service deletes the
// certificate first and the certificate leaves the store.
TEST_F(ReaderContainers, DeleteContainer) {
    for (const bool realDelete : {false, true}) {
        SCOPED_TRACE(realDelete ? "real delete" : "link only");
        SetModuleOption(kOptionRealDelete, realDelete);
        const Bytes rsa = Link("signing", kRsaKey, AT_SIGNATURE, kRsaKey);
        Host host(NIMBEX_MODULE_PATH, Options());
        Session session = host.Open(urls.name);
        ExpectAnswers(host, session, {{"no container", CLOUD_DELETE_CONTAINER, {}, 0}});
        session.OpenContainer("signing");
        session.DeleteContainer();
        std::vector<std::string> expected;
        if (realDelete)
            expected = {token, "GET " + api + "policy", "DELETE " + api + "v2/certificates/1"};
        EXPECT_EQ(Requests(), expected);
        EXPECT_EQ(bool(nimbex_test::FindStored(rsa)), !realDelete);
        EXPECT_THROW(session.OpenContainer("signing"), HostError);
        EXPECT_TRUE(session.ContainerNames().empty());
        service.reset();
    }
}

}  // namespace
