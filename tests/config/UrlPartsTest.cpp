#include <gtest/gtest.h>

#include "config/UrlParts.h"

TEST(SplitUrl, Pieces) {
    const struct {
        const char *url, *scheme, *host;
        int port;
        const char *portText, *base, *path;
    } cases[] = {
        {"https://sign.example.org/", "https://", "sign.example.org", 443, "",
         "https://sign.example.org", "/"},
        {"https://h:8080/api/v1?x=1&y=/z", "https://", "h", 8080, ":8080", "https://h:8080",
         "/api/v1?x=1&y=/z"},
        {"https://a.b/c:d/e", "https://", "a.b", 443, "", "https://a.b", "/c:d/e"},
        // Other schemes default to 80; the scheme is case-sensitive.
        {"http://h/", "http://", "h", 80, "", "http://h", "/"},
        {"HTTPS://h/", "HTTPS://", "h", 80, "", "HTTPS://h", "/"},
        // The port text is read like strtol.
        {"https://h:/p", "https://", "h", 0, ":", "https://h:", "/p"},
        {"https://h:12ab/p", "https://", "h", 12, ":12ab", "https://h:12ab", "/p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const UrlParts p = SplitUrl(c.url);
        ASSERT_TRUE(p.parsed);
        EXPECT_EQ(p.scheme, c.scheme);
        EXPECT_EQ(p.host, c.host);
        EXPECT_EQ(p.port, c.port);
        EXPECT_EQ(p.portText, c.portText);
        EXPECT_EQ(p.base, c.base);
        EXPECT_EQ(p.path, c.path);
    }
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
