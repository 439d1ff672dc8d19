#include <gtest/gtest.h>

#include "KelAssertions.h"
#include "TestTokens.h"
#include "base/ErrorCodes.h"
#include "protocol/AuthResponse.h"
#include "protocol/TextEncoding.h"
#include "transport/KelUrlRetriever.h"

namespace {

using nimbex_test::Base64Url;
using nimbex_test::IdToken;

int64_t NowSeconds() {
    TSupTime now = {0};
    EXPECT_EQ(SUP_OK, support_gettimeofday(&now));
    return now.usec / 1000000;
}

class AuthResponseTest : public ::testing::Test {
  protected:
    std::pair<std::string, uint32_t> Decode(const AuthParameters& p) {
        try {
            DecodeAuthResponse(transport, p, access, accessExpiry, id, idExpiry, conf, confExpiry);
        } catch (const KelException& e) {
            return {nimbex_test::KelMessage(e), e.code()};
        }
        return {"", 0};
    }

    AuthParameters Good() {
        return {{"access_token", "access-1"},
                {"expires_in", "3600"},
                {"id_token", IdToken(R"({"sub":"u","exp":2000000000})")}};
    }

    KelUrlRetriever transport{0, 0, false, true, true};
    SecretString access = "old-access", id = "old-id", conf = "old-conf";
    TSupTime accessExpiry{1}, idExpiry{2}, confExpiry{3};
};

}  // namespace

TEST_F(AuthResponseTest, DecodesTokensAndExpiries) {
    int64_t before = NowSeconds();
    ASSERT_EQ("", Decode(Good()).first);
    int64_t after = NowSeconds();
    EXPECT_EQ("access-1", access);
    EXPECT_EQ(Good()["id_token"], id);
    EXPECT_GE(accessExpiry.usec / 1000000, before + 3600);
    EXPECT_LE(accessExpiry.usec / 1000000, after + 3600);
    EXPECT_EQ(2000000000LL * 1000000, idExpiry.usec);
    // No confirmation token in the answer: the outputs are left alone.
    EXPECT_EQ("old-conf", conf);
    EXPECT_EQ(3, confExpiry.usec);
}

TEST_F(AuthResponseTest, ConfirmationTokenNeedsBothFields) {
    AuthParameters p = Good();
    p["conf_token"] = "conf-1";
    ASSERT_EQ("", Decode(p).first);
    EXPECT_EQ("old-conf", conf);

    p["conf_token_expires_in"] = "60";
    int64_t before = NowSeconds();
    ASSERT_EQ("", Decode(p).first);
    EXPECT_EQ("conf-1", conf);
    EXPECT_GE(confExpiry.usec / 1000000, before + 60);
    EXPECT_LE(confExpiry.usec / 1000000, NowSeconds() + 60);

    p["conf_token_expires_in"] = "soon";
    auto e = Decode(p);
    EXPECT_EQ("Wrong \"conf_token_expires_in\" value. Cannot convert to an integer.", e.first);
    EXPECT_EQ(codes::kFail, e.second);
}

TEST_F(AuthResponseTest, OAuthErrorsInOrderWithTheirCodes) {
    const struct {
        AuthParameters answer;
        const char* message;
        uint32_t code;
    } cases[] = {
        {{{"error", "access_denied"}, {"error_description", "cancelled_by_user"}},
         "Error was return from OAuth2 client: cancelled_by_user",
         codes::kCancelled},
        {{{"error", "invalid_grant"}, {"error_description", "cancelled_by_user"}},
         "Error was return from OAuth2 client: invalid_grant",
         2202u},
        {{{"error", "access_denied"}, {"error_description", "other"}},
         "Error was return from OAuth2 client: access_denied",
         codes::kFail},
        {{{"error_message", "login_required"}, {"error", "invalid_grant"}},
         "Error was return from OAuth2 client: login_required",
         1244u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto e = Decode(c.answer);
        EXPECT_EQ(c.message, e.first);
        EXPECT_EQ(c.code, e.second);
    }

    auto e = Decode({{"error_description", "key_blocked"}, {"access_token", "a"}});
    EXPECT_EQ(codes::kPinBlocked, e.second);
    EXPECT_EQ("old-access", access);
}

TEST_F(AuthResponseTest, MissingRequiredFields) {
    for (const char* name : {"access_token", "expires_in", "id_token"}) {
        AuthParameters p = Good();
        p.erase(name);
        auto e = Decode(p);
        EXPECT_EQ(std::string("Cannot find a \"") + name + "\" field in the auth server response",
                  e.first);
        EXPECT_EQ(codes::kFail, e.second);
        EXPECT_EQ("old-access", access);  // nothing is written before all three are found
    }
    EXPECT_THROW(FindResponseField(Good(), nullptr), KelException);
    EXPECT_EQ("3600", FindResponseField(Good(), "expires_in"));
}

TEST_F(AuthResponseTest, ExpiresInMustBePositive) {
    // Only text that starts with a digit is read: no blanks, no sign.
    for (const char* text : {"0", "-5", "abc", "", " x1", " 5", "+5", "\t7", "-0"}) {
        AuthParameters p = Good();
        p["expires_in"] = text;
        EXPECT_EQ("Wrong \"expires_in\" value. Cannot convert to an integer.", Decode(p).first)
            << text;
        EXPECT_EQ("old-access", access);
    }
    AuthParameters p = Good();
    p["expires_in"] = "90s";  // leading digits count
    ASSERT_EQ("", Decode(p).first);
    EXPECT_LE(accessExpiry.usec / 1000000, NowSeconds() + 90);
    EXPECT_GE(accessExpiry.usec / 1000000, NowSeconds() + 89);

    p["expires_in"] = "99999999999";
    EXPECT_EQ("Wrong \"expires_in\" value. Cannot convert to a time.", Decode(p).first);
}

TEST_F(AuthResponseTest, BadIdTokenLeavesEarlierOutputsSet) {
    AuthParameters p = Good();
    p["id_token"] = IdToken(R"({"sub":"u"})");
    auto e = Decode(p);
    EXPECT_EQ("Wrong \"id_token\" value. Cannot parse the value.", e.first);
    EXPECT_EQ(codes::kFail, e.second);
    EXPECT_EQ("access-1", access);
    EXPECT_EQ(p["id_token"], id);

    p["id_token"] = "aGVhZA.!!!.c2ln";
    EXPECT_EQ("Cannot decode Base64 value", Decode(p).first);
}

TEST(IdTokenExpiryTest, ReadsExpFromTheBase64UrlPayload) {
    // A payload whose Base64 needs "-" and "_" and has no padding.
    const std::string claims = R"({"exp":1234567890,"n":"??>>~~"})";
    ASSERT_NE(std::string::npos, Base64Url(claims).find_first_of("-_"));
    const std::pair<std::string, int64_t> good[] = {
        {IdToken(claims), 1234567890},
        {"x." + Base64Url(R"({"exp":5})") + ".", 5},
    };
    for (const auto& c : good) {
        TSupTime t = {0};
        ASSERT_TRUE(ExpiryFromIdToken(c.first.c_str(), t)) << c.first;
        EXPECT_EQ(c.second * 1000000, t.usec);
    }
    TSupTime t = {77};
    EXPECT_FALSE(ExpiryFromIdToken(nullptr, t));
    for (const std::string& bad : {std::string("no-dots"), "a." + Base64Url(R"({"exp":5})"),
                                   IdToken(R"({"exp":"5"})"), IdToken("not json")})
        EXPECT_FALSE(ExpiryFromIdToken(bad.c_str(), t)) << bad;
    EXPECT_EQ(77, t.usec);
    EXPECT_THROW(ExpiryFromIdToken("a..b", t), KelException);  // empty payload
}

TEST(ExpiryTest, AgainstTheClock) {
    TSupTime soon = {0}, past = {0}, far = {0};
    ASSERT_TRUE(ExpiryFromNow(60, soon));
    EXPECT_FALSE(IsExpired(soon));
    ASSERT_TRUE(ExpiryFromNow(-1, past));
    EXPECT_TRUE(IsExpired(past));
    ASSERT_TRUE(ExpiryFromNow(0x7FFFFFFF, far));
    EXPECT_FALSE(IsExpired(far));
    // Times the platform cannot subtract from now count as expired.
    TSupTime broken = {INT64_MIN};
    EXPECT_TRUE(IsExpired(broken));
}

// The three methods inside the URNs the service sends, and the password and OTP methods
// passed over: ConfirmationTest, through the challenges.
TEST(ConfirmationMethodTest, MatchesCaseSensitively) {
    EXPECT_TRUE(IsConfirmationAuthMethod("xauthenticationmethod/simauthx"));
    EXPECT_FALSE(IsConfirmationAuthMethod("AuthenticationMethod/Mobile"));
    EXPECT_FALSE(IsConfirmationAuthMethod(""));
}
