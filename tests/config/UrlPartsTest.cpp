#include <gtest/gtest.h>

#include "config/UrlParts.h"

TEST(SplitUrl, HttpsWithTrailingSlashTakesDefaultPort) {
    const UrlParts p = SplitUrl("https://sign.example.org/");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(p.scheme, "https://");
    EXPECT_EQ(p.host, "sign.example.org");
    EXPECT_EQ(p.port, 443);
    EXPECT_EQ(p.portText, "");
    EXPECT_EQ(p.base, "https://sign.example.org");
    EXPECT_EQ(p.path, "/");
}

TEST(SplitUrl, ExplicitPortAndQueryKeptInPath) {
    const UrlParts p = SplitUrl("https://h:8080/api/v1?x=1&y=/z");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(p.host, "h");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.portText, ":8080");
    EXPECT_EQ(p.base, "https://h:8080");
    EXPECT_EQ(p.path, "/api/v1?x=1&y=/z");
}

TEST(SplitUrl, OtherSchemesDefaultTo80AndSchemeIsCaseSensitive) {
    EXPECT_EQ(SplitUrl("http://h/").port, 80);
    EXPECT_EQ(SplitUrl("ftp://h/x").port, 80);
    EXPECT_EQ(SplitUrl("HTTPS://h/").port, 80);
    EXPECT_EQ(SplitUrl("HTTPS://h/").scheme, "HTTPS://");
}

TEST(SplitUrl, PortTextReadLikeStrtol) {
    EXPECT_EQ(SplitUrl("https://h:/p").port, 0);
    EXPECT_EQ(SplitUrl("https://h:/p").portText, ":");
    EXPECT_EQ(SplitUrl("https://h:12ab/p").port, 12);
}

TEST(SplitUrl, MissingPiecesDoNotParse) {
    for (const char* url : {"", "sign.example.org/", "https://host", "https://host:443", "https://",
                            "https:/host/"}) {
        const UrlParts p = SplitUrl(url);
        EXPECT_FALSE(p.parsed) << url;
        EXPECT_TRUE(p.host.empty() && p.path.empty() && p.base.empty()) << url;
        EXPECT_EQ(p.port, 0) << url;
    }
}

TEST(SplitUrl, PathStartsAtFirstSlashAfterHost) {
    const UrlParts p = SplitUrl("https://a.b/c:d/e");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(p.host, "a.b");
    EXPECT_EQ(p.path, "/c:d/e");
    EXPECT_EQ(p.port, 443);
}
