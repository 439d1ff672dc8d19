// The local service's GOST R 34.10-2012 keys through the built libnimbex.so and the CSP host:
// a GOST hash from the reader's hash functions signed and verified with OpenSSL and the GOST
// engine, and a detached CMS signature accepted by `openssl cms -verify` with the engine
// configured for that process only.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <fstream>

#include "CmsSigner.h"
#include "GostEngine.h"
#include "ReaderContainerFixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

class ReaderGost : public nimbex_test::ReaderContainerFixture {
  protected:
    void SetUp() override {
        const Json::Value& gost = service.readyLine()["gost"];
        if (!gost["available"].asBool())
            GTEST_SKIP() << "the local service offers no GOST keys: " << gost["problem"];
        if (!gost::Engine::Get().available()) GTEST_SKIP() << gost::Engine::Get().problem();
        setenv("NIMBEX_TEST_PIN", "1234", 1);
    }
    void TearDown() override {
        unsetenv("NIMBEX_TEST_PIN");
        ReaderContainerFixture::TearDown();
    }
};

TEST_F(ReaderGost, SignsHashesAndCmsWithBothKeySizes) {
    SaveService("local-v2");
    const struct {
        const char* container;
        uint32_t key, hashAlgId;
    } cases[] = {{"gost256", 3, 0x8021}, {"gost512", 4, 0x8022}};
    nimbex_test::TempDir dir;
    const std::string conf = dir.path() + "/openssl.cnf", doc = dir.path() + "/doc.txt",
                      sig = dir.path() + "/doc.p7s";
    std::ofstream(conf) << "openssl_conf = init\n[init]\nengines = engines\n[engines]\n"
                           "gost = gost\n[gost]\ndynamic_path = "
                        << gost::Engine::Get().path() << "\ndefault_algorithms = ALL\n";
    const Bytes text = {'G', 'O', 'S', 'T', ' ', 0xFF, '\n'};
    std::ofstream(doc, std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), std::streamsize(text.size()));
    std::vector<Bytes> certificates;
    for (const auto& c : cases)
        certificates.push_back(Link(c.container, c.key, AT_SIGNATURE, c.key));

    csphost::HostOptions options = Options();
    options.pin = csphost::PinSource::Environment("NIMBEX_TEST_PIN");
    csphost::Host host(NIMBEX_MODULE_PATH, options);
    csphost::Session session = host.Open(size_t(0));
    session.Lock();
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(cases[i].container);
        session.OpenContainer(cases[i].container);
        // The digest as the hash function writes it; signed as a number, most significant
        // byte first.
        const Bytes digest = session.Hash(cases[i].hashAlgId, text);
        const Bytes signature =
            session.SignHash(Bytes(digest.rbegin(), digest.rend()), cases[i].hashAlgId);
        const unsigned char* p = certificates[i].data();
        X509* cert = d2i_X509(nullptr, &p, long(certificates[i].size()));
        EVP_PKEY* key = X509_get_pubkey(cert);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        EXPECT_TRUE(EVP_PKEY_verify_init(ctx) == 1 &&
                    EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(),
                                    digest.size()) == 1);
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(key);
        X509_free(cert);

        csphost::CmsSigner(session, certificates[i], cases[i].hashAlgId)
            .SignFile(doc, sig, csphost::CmsFormat::kPem);
        const std::string verify = "OPENSSL_CONF=" + conf +
                                   " openssl cms -verify -binary -inform PEM -purpose any -in " +
                                   sig + " -content " + doc + " -CAfile " + service.caFile() +
                                   " -out /dev/null 2>" + dir.path() + "/verify.err";
        EXPECT_EQ(system(verify.c_str()), 0) << verify;
        session.CloseContainer();
    }
}

}  // namespace
