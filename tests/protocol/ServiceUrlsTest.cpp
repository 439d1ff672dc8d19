#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "base/ErrorCodes.h"
#include "protocol/RequestHeaders.h"
#include "protocol/ServiceUrls.h"
#include "protocol/TextEncoding.h"

using nimbex_test::CaughtKelException;
using nimbex_test::KelMessage;

TEST(BaseUrlTest, KeepsOriginAndFirstSegment) {
    BaseUrl b = DeriveBaseUrl("https://sign.example:8443/signserver/rest/api?x=1", "bad");
    EXPECT_EQ("https://sign.example:8443/signserver", b.base);
    EXPECT_EQ("signserver", b.segment);

    b = DeriveBaseUrl("https://host/", "bad");
    EXPECT_EQ("https://host/", b.base);
    EXPECT_EQ("", b.segment);

    // A query directly after the only segment stays in it.
    b = DeriveBaseUrl("https://host/ss?tenant=a", "bad");
    EXPECT_EQ("https://host/ss?tenant=a", b.base);
    EXPECT_EQ("ss?tenant=a", b.segment);

    b = DeriveBaseUrl("HTTP://Host/a/", "bad");
    EXPECT_EQ("HTTP://Host/a", b.base);
}

TEST(BaseUrlTest, UnsplittableUrlsThrowTheGivenMessage) {
    for (const char* url : {"host/path", "https://host", "https://host:443", ""}) {
        SCOPED_TRACE(url);
        const KelException e =
            CaughtKelException([&] { DeriveBaseUrl(url, "Wrong auth server URL format"); });
        EXPECT_EQ("Wrong auth server URL format", KelMessage(e));
        EXPECT_EQ(codes::kFail, e.code());
    }
}

// The auth and sign servers and the resource as usually derived: the exact requests of
// SignInTest and ConfirmationTest.
TEST(ServiceUrlsTest, DocumentStoreBaseAndResourceUrnOfASignServerWithoutASegment) {
    const ServiceUrls u =
        DeriveServiceUrls("https://a/x", "https://s/", "https://docs.example/ds/api");
    EXPECT_EQ("https://docs.example/ds", u.docstoreUrl);
    EXPECT_EQ("urn:veltra:kel:signserver:", u.resourceUrn);
    EXPECT_EQ("", DeriveServiceUrls("https://a/x", "https://s/", "").docstoreUrl);
}

TEST(ServiceUrlsTest, SignServerIsCheckedFirstAndDocstoreLast) {
    auto message = [](const char* a, const char* s, const char* d) {
        return KelMessage(CaughtKelException([&] { DeriveServiceUrls(a, s, d); }));
    };
    EXPECT_EQ("Wrong sign server URL format", message("bad", "bad", "bad"));
    EXPECT_EQ("Wrong auth server URL format", message("bad", "https://s/", "bad"));
    EXPECT_EQ("Wrong document store server URL format", message("https://a/", "https://s/", "bad"));
}

TEST(RequestHeadersTest, AuthorizationAndContentLines) {
    // Bearer and content lines: the exact requests of ConfirmationTest and
    // KeyOperationsServiceTest.
    EXPECT_EQ((std::vector<SecretString>{"Authorization: Basic " + EncodeBase64("us:er:p w", 9)}),
              MakeRequestHeaders("", "", "us:er", "p w"));
    EXPECT_EQ((std::vector<SecretString>{"Authorization: Basic dXNlcjo="}),
              MakeRequestHeaders("", "", "user", ""));
    EXPECT_TRUE(MakeRequestHeaders("", "", "", "pass").empty());
    // Length in bytes, not characters.
    EXPECT_EQ("Content-Length: 2", MakeRequestHeaders("", "\xD0\x96", "", "").back());
}
