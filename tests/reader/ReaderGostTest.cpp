// CMS signatures with the local service's GOST R 34.10-2012 keys, made by the CSP host through
// the built libnimbex.so (GOST hashes from the reader's hash functions, signed with sign_hash)
// and accepted by `openssl cms -verify` with the GOST engine configured for that process only.
#include <fstream>

#include "CmsSigner.h"
#include "GostEngine.h"
#include "ReaderContainerFixture.h"

namespace {

class ReaderGost : public nimbex_test::ReaderContainerFixture {
  protected:
    void SetUp() override {
        const Json::Value& gost = service.readyLine()["gost"];
        if (!gost["available"].asBool())
            GTEST_SKIP() << "the local service offers no GOST keys: " << gost["problem"];
        if (!gost::Engine::Get().available()) GTEST_SKIP() << gost::Engine::Get().problem();
    }
};

TEST_F(ReaderGost, CmsSignaturesOfBothKeySizesVerify) {
    SaveService("local-v2");
    setenv("NIMBEX_TEST_PIN", "1234", 1);
    nimbex_test::TempDir dir;
    const std::string conf = dir.path() + "/openssl.cnf", doc = dir.path() + "/doc.txt",
                      sig = dir.path() + "/doc.p7s";
    std::ofstream(conf) << "openssl_conf = init\n[init]\nengines = engines\n[engines]\n"
                           "gost = gost\n[gost]\ndynamic_path = "
                        << gost::Engine::Get().path() << "\ndefault_algorithms = ALL\n";
    std::ofstream(doc) << "A document \xFF signed with GOST\n";
    const Bytes gost256 = Link("gost256", 3, AT_SIGNATURE, 3);
    const Bytes gost512 = Link("gost512", 4, AT_SIGNATURE, 4);

    csphost::Host host(NIMBEX_MODULE_PATH, Options());
    csphost::Session session = host.Open(size_t(0));
    session.Lock();
    const struct {
        const char* container;
        const Bytes& certificate;
        uint32_t hashAlgId;
    } cases[] = {{"gost256", gost256, 0x8021}, {"gost512", gost512, 0x8022}};
    for (const auto& c : cases) {
        session.OpenContainer(c.container);
        csphost::CmsSigner(session, c.certificate, c.hashAlgId)
            .SignFile(doc, sig, csphost::CmsFormat::kPem);
        const std::string verify = "OPENSSL_CONF=" + conf +
                                   " openssl cms -verify -binary -inform PEM -purpose any -in " +
                                   sig + " -content " + doc + " -CAfile " + service.caFile() +
                                   " -out /dev/null 2>/dev/null";
        EXPECT_EQ(system(verify.c_str()), 0) << verify;
        session.CloseContainer();
    }
    session.Unlock();
}

}  // namespace
