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
    AuthParameters p = Good();
    p["expires_in"] = "3600s";  // the leading digits count
    p["conf_token"] = "conf-1";
    int64_t before = NowSeconds();
    ASSERT_EQ("", Decode(p).first);
    int64_t after = NowSeconds();
    EXPECT_EQ("access-1", access);
    EXPECT_EQ(Good()["id_token"], id);
    EXPECT_GE(accessExpiry.usec / 1000000, before + 3600);
    EXPECT_LE(accessExpiry.usec / 1000000, after + 3600);
    EXPECT_EQ(2000000000LL * 1000000, idExpiry.usec);
    // A confirmation token without its lifetime: the outputs are left alone.
    EXPECT_EQ("old-conf", conf);
    EXPECT_EQ(3, confExpiry.usec);

    p["conf_token_expires_in"] = "60";
    ASSERT_EQ("", Decode(p).first);
    EXPECT_EQ("conf-1", conf);
    EXPECT_GE(confExpiry.usec / 1000000, before + 60);
    EXPECT_LE(confExpiry.usec / 1000000, NowSeconds() + 60);
}

TEST_F(AuthResponseTest, FailuresWithTheirMessagesAndCodes) {
    const std::string oauth = "Error was return from OAuth2 client: ";
    const std::string missing = "\" field in the auth server response";
    const auto wrong = [](const char* name, const char* what) {
        return std::string("Wrong \"") + name + "\" value. Cannot " + what;
    };
    struct Case {
        std::string changes;  // pairs set in Good(), "~" erases
        std::string message;
        uint32_t code;
        bool decoded = false;  // the access and id tokens were written before the failure
    };
    std::vector<Case> cases = {
        // OAuth errors in their order, with the codes of their texts.
        {"error=access_denied&error_description=cancelled_by_user", oauth + "cancelled_by_user",
         codes::kCancelled},
        {"error=invalid_grant&error_description=cancelled_by_user", oauth + "invalid_grant", 2202},
        {"error=access_denied&error_description=other", oauth + "access_denied", codes::kFail},
        {"error_message=login_required&error=invalid_grant", oauth + "login_required", 1244},
        {"error_description=key_blocked", oauth + "key_blocked", codes::kPinBlocked},
        // Nothing is written before all three required fields are found.
        {"access_token=~", "Cannot find a \"access_token" + missing, codes::kFail},
        {"expires_in=~", "Cannot find a \"expires_in" + missing, codes::kFail},
        {"id_token=~", "Cannot find a \"id_token" + missing, codes::kFail},
        {"expires_in=99999999999", wrong("expires_in", "convert to a time."), codes::kFail},
        {"conf_token=c&conf_token_expires_in=soon",
         wrong("conf_token_expires_in", "convert to an integer."), codes::kFail, true},
        {"id_token=aGVhZA.eyJzdWIiOiJ1In0.c2ln",  // no "exp"
         wrong("id_token", "parse the value."), codes::kFail, true},
        {"id_token=aGVhZA.!!!.c2ln", "Cannot decode Base64 value", codes::kFail, true},
    };
    // Only text that starts with a digit is read: no blanks, no sign.
    for (const char* text : {"0", "-5", "abc", "", " x1", " 5", "+5", "\t7", "-0"})
        cases.push_back({std::string("expires_in=") + text,
                         wrong("expires_in", "convert to an integer."), codes::kFail});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changes);
        AuthParameters p = Good();
        for (const auto& [name, value] : ParseKeyValueText(c.changes)) {
            if (value == "~")
                p.erase(name);
            else
                p[name] = value;
        }
        access = "old-access";
        id = "old-id";
        EXPECT_EQ(std::make_pair(c.message, c.code), Decode(p));
        EXPECT_EQ(c.decoded ? "access-1" : "old-access", access);
        EXPECT_EQ(c.decoded ? p["id_token"] : SecretString("old-id"), id);
    }
    EXPECT_THROW(FindResponseField(Good(), nullptr), KelException);
}

TEST(IdTokenExpiryTest, ReadsExpFromTheBase64UrlPayload) {
    // A payload whose Base64 needs "-" and "_" and has no padding.
    const std::string claims = R"({"exp":1234567890,"n":"??>>~~"})";
    ASSERT_NE(std::string::npos, Base64Url(claims).find_first_of("-_"));
    // "exp" is read by GetJsonUIntField, its only reader: any unsigned 32-bit number (a
    // boolean counts as one), no text, no fraction.
    const std::pair<std::string, int64_t> good[] = {
        {IdToken(claims), 1234567890},
        {"x." + Base64Url(R"({"exp":5})") + ".", 5},
        {IdToken(R"({"exp":4294967295})"), 4294967295},
        {IdToken(R"({"exp":true})"), 1},
    };
    for (const auto& c : good) {
        TSupTime t = {0};
        ASSERT_TRUE(ExpiryFromIdToken(c.first.c_str(), t)) << c.first;
        EXPECT_EQ(c.second * 1000000, t.usec);
    }
    TSupTime t = {77};
    EXPECT_FALSE(ExpiryFromIdToken(nullptr, t));
    for (const std::string& bad : {std::string("no-dots"), "a." + Base64Url(R"({"exp":5})"),
                                   IdToken(R"({"exp":"5"})"), IdToken(R"({"exp":1.5})"),
                                   IdToken(R"({"other":1})"), IdToken("[1]"), IdToken("not json")})
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
