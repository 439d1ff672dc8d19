#include <algorithm>
#include <map>

#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

const char kRedirect[] = "https%3A%2F%2Fsign.example.com%2Foauth2redirect%2Fcloudcsp";
const char kMobile[] = "http://schemas.veltra.ru/kel/authenticationmethod/mobile";

class AuthServerTest : public ServiceTest {
  protected:
    static std::string authorizeUrl(const LocalServiceUrls& s, const std::string& extra,
                                    bool silent) {
        std::string url =
            s.auth +
            "/oauth/authorize?client_id=veltra.cloud.csp&response_type=token%20id_token"
            "&scope=kel&redirect_uri=" +
            kRedirect + "&resource=" + s.resource + extra;
        url += silent ? "&response_mode=fragment&prompt=none" : "&response_mode=form_post";
        return url;
    }
    // The key=value pairs after "#" of the target of a silent authorization answer (a redirect).
    static std::map<std::string, std::string> fragment(const HttpResult& answer) {
        std::map<std::string, std::string> out;
        EXPECT_EQ(answer.status, 302) << answer.body;
        auto location = answer.headers.find("location");
        if (location == answer.headers.end()) return out;
        size_t hash = location->second.find('#');
        if (hash == std::string::npos) return out;
        std::string text = location->second.substr(hash + 1);
        size_t pos = 0;
        while (pos < text.size()) {
            size_t amp = text.find('&', pos);
            if (amp == std::string::npos) amp = text.size();
            std::string piece = text.substr(pos, amp - pos);
            size_t eq = piece.find('=');
            if (eq != std::string::npos) out[piece.substr(0, eq)] = piece.substr(eq + 1);
            pos = amp + 1;
        }
        return out;
    }
    static Json::Value confirm(const LocalServiceUrls& s, const std::string& token,
                               const Json::Value& body, bool v2 = true) {
        HttpResult r =
            post(s.auth + (v2 ? "/v2.0/confirmation" : "/confirmation"), token, compact(body));
        EXPECT_EQ(r.status, 200) << r.body;
        return json(r.body);
    }
    static Json::Value first(const LocalServiceUrls& s, const std::string& ref = "",
                             bool v2 = true) {
        Json::Value b;
        b["Resource"] = s.resource;
        b["ClientId"] = "veltra.cloud.csp";
        if (!ref.empty()) b[v2 ? "OperationId" : "TransactionTokenId"] = ref;
        return b;
    }
    static Json::Value textAnswer(const std::string& refId) {
        Json::Value b;
        b["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"] = refId;
        b["Resource"] = v2().resource;
        b["ClientId"] = "veltra.cloud.csp";
        return b;
    }
};

TEST_F(AuthServerTest, PasswordGrantTakesAFormBodyWhateverTheContentType) {
    HttpResult r = post(v2().auth + "/oauth/token", "", grantBody(v2(), "demo", "demo-password"),
                        {"Content-Type: application/json; charset=utf-8"});
    ASSERT_EQ(r.status, 200) << r.body;
    Json::Value v = json(r.body);
    EXPECT_FALSE(v["access_token"].asString().empty());
    EXPECT_EQ(v["expires_in"].asUInt(), 3600u);
    std::string id = v["id_token"].asString();
    EXPECT_EQ(std::count(id.begin(), id.end(), '.'), 2);
    EXPECT_EQ(get(v2().sign + "/rest/api/certificates", v["access_token"].asString()).status, 200);
}

TEST_F(AuthServerTest, PasswordGrantRefusals) {
    auto error = [](const HttpResult& r) { return json(r.body)["error"].asString(); };
    HttpResult wrong = post(v2().auth + "/oauth/token", "", grantBody(v2(), "demo", "nope"));
    EXPECT_EQ(wrong.status, 400);
    EXPECT_EQ(error(wrong), "invalid_grant");
    HttpResult unknown = post(v2().auth + "/oauth/token", "", grantBody(v2(), "nobody", "x"));
    EXPECT_EQ(error(unknown), "invalid_grant");
    HttpResult otherResource =
        post(v2().auth + "/oauth/token", "", grantBody(v1(), "demo", "demo-password"));
    EXPECT_EQ(otherResource.status, 400);
    EXPECT_EQ(error(otherResource), "invalid_request");
    HttpResult noGrant =
        post(v2().auth + "/oauth/token", "", "username=demo&password=demo-password");
    EXPECT_EQ(noGrant.status, 400);
    HttpResult garbage = post(v2().auth + "/oauth/token", "", std::string("\x01\xff%%&&==", 9));
    EXPECT_EQ(garbage.status, 400);
}

TEST_F(AuthServerTest, TokensAreScopedToTheirService) {
    std::string token = passwordToken(v2());
    EXPECT_EQ(get(v1().sign + "/rest/api/certificates", token).status, 401);
    EXPECT_EQ(get(v2().sign + "/rest/api/certificates", token).status, 200);
}

TEST_F(AuthServerTest, SilentSignInNeedsARunningSession) {
    HttpResult before = get(authorizeUrl(v2(), "&login_hint=demo&sign_api_version=2", true));
    EXPECT_EQ(fragment(before)["error"], "login_required");

    passwordToken(v2());  // starts the session
    HttpResult after = get(authorizeUrl(v2(), "&sign_api_version=2&login_hint=demo", true));
    EXPECT_EQ(
        after.headers["location"].rfind("https://sign.example.com/oauth2redirect/cloudcsp#", 0),
        0u);
    auto f = fragment(after);
    EXPECT_EQ(f.count("error"), 0u);
    EXPECT_EQ(f["expires_in"], "3600");
    ASSERT_FALSE(f["access_token"].empty());
    EXPECT_EQ(get(v2().sign + "/rest/api/policy", f["access_token"]).status, 200);
    // The id token's payload carries "exp" and names the user.
    std::string id = f["id_token"];
    size_t d1 = id.find('.'), d2 = id.find('.', d1 + 1);
    std::string payload = id.substr(d1 + 1, d2 - d1 - 1);
    for (char& c : payload) c = c == '-' ? '+' : c == '_' ? '/' : c;
    while (payload.size() % 4) payload += '=';
    Bytes raw = unb64(payload);
    Json::Value claims = json(std::string(raw.begin(), raw.end()));
    EXPECT_TRUE(claims["exp"].isIntegral());
    EXPECT_EQ(claims["sub"].asString(), "demo");

    // The id token alone is recognised as well.
    HttpResult byId = get(authorizeUrl(v2(), "&id_token_hint=" + id + "&sign_api_version=2", true));
    EXPECT_FALSE(fragment(byId)["access_token"].empty());
    HttpResult forged =
        get(authorizeUrl(v2(), "&id_token_hint=" + id + "x&sign_api_version=2", true));
    EXPECT_EQ(fragment(forged)["error"], "login_required");
    // Silent answers carry no confirmation token.
    EXPECT_EQ(fragment(byId).count("conf_token"), 0u);
    // An expired id token is not recognised, though the session still runs.
    svc().expireTokens("id");
    HttpResult expired =
        get(authorizeUrl(v2(), "&id_token_hint=" + id + "&sign_api_version=2", true));
    EXPECT_EQ(fragment(expired)["error"], "login_required");
}

TEST_F(AuthServerTest, AuthorizeRefusesWrongFixedParameters) {
    std::string good = authorizeUrl(v2(), "&sign_api_version=2", false);
    EXPECT_EQ(get(good).status, 200);
    std::string badClient = good;
    badClient.replace(badClient.find("veltra.cloud.csp"), 16, "someone.else");
    EXPECT_EQ(get(badClient).status, 400);
    std::string badRedirect = good;
    badRedirect.replace(badRedirect.find("cloudcsp"), 8, "elsewhere");
    EXPECT_EQ(get(badRedirect).status, 400);
    // No document store on the version 1 service.
    EXPECT_EQ(get(authorizeUrl(v1(), "&sign_api_version=2", false)).status, 400);
    EXPECT_EQ(get(authorizeUrl(v2(), "&kel_operation_id=x", false)).status, 400);
}

TEST_F(AuthServerTest, InteractivePageIsASignInForm) {
    HttpResult r = get(authorizeUrl(v1(), "&login_hint=demo", false));
    ASSERT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("<form id=\"signin\""), std::string::npos);
    EXPECT_NE(r.body.find("name=\"password\""), std::string::npos);
    EXPECT_NE(r.body.find("value=\"demo\""), std::string::npos);
}

TEST_F(AuthServerTest, TextChallengeIsPolledUntilFinal) {
    svc().configure(json(R"({"confirmation": {"polls": 2}})"));
    std::string token = passwordToken(v2());
    Json::Value c = confirm(v2(), token, first(v2()));
    ASSERT_FALSE(c["IsFinal"].asBool());
    ASSERT_FALSE(c["IsError"].asBool());
    const Json::Value& tc = c["Challenge"]["TextChallenge"][0];
    EXPECT_EQ(tc["AuthnMethod"].asString(), kMobile);
    std::string ref = tc["RefID"].asString();
    int pending = 0;
    Json::Value answer;
    for (int i = 0; i < 10; ++i) {
        answer = confirm(v2(), token, textAnswer(ref));
        if (answer["IsFinal"].asBool()) break;
        ++pending;
    }
    EXPECT_EQ(pending, 2);
    ASSERT_TRUE(answer["IsFinal"].asBool());
    EXPECT_FALSE(answer["IsError"].asBool());
    EXPECT_EQ(answer["ExpiresIn"].asUInt(), 3600u);
    EXPECT_FALSE(answer["ConfToken"].asString().empty());
    EXPECT_EQ(answer["ConfTokenExpiresIn"].asUInt(), 3600u);
    EXPECT_EQ(get(v2().sign + "/rest/api/policy", answer["AccessToken"].asString()).status, 200);
    // A finished challenge cannot be answered again.
    Json::Value again = confirm(v2(), token, textAnswer(ref));
    EXPECT_TRUE(again["IsError"].asBool());
}

TEST_F(AuthServerTest, ChoiceChallengeLeadsToATextChallengeOfTheChosenMethod) {
    svc().configure(json(R"({"confirmation": {"challenge": "choice", "polls": 0}})"));
    std::string token = passwordToken(v2());
    Json::Value c = confirm(v2(), token, first(v2()));
    const Json::Value& cc = c["Challenge"]["ChoiceChallenge"][0];
    ASSERT_EQ(cc["Choice"].size(), 2u);
    EXPECT_EQ(cc["Choice"][1]["RefID"].asString(), kMobile);
    Json::Value pick;
    pick["ChallengeResponse"]["ChoiceChallengeResponse"][0]["RefID"] = cc["RefID"];
    pick["ChallengeResponse"]["ChoiceChallengeResponse"][0]["ChoiceSelected"][0]["RefId"] = kMobile;
    pick["Resource"] = v2().resource;
    pick["ClientId"] = "veltra.cloud.csp";
    Json::Value text = confirm(v2(), token, pick);
    ASSERT_TRUE(text["Challenge"]["TextChallenge"].isArray()) << compact(text);
    Json::Value final =
        confirm(v2(), token, textAnswer(text["Challenge"]["TextChallenge"][0]["RefID"].asString()));
    EXPECT_TRUE(final["IsFinal"].asBool());
    EXPECT_FALSE(final["AccessToken"].asString().empty());
}

TEST_F(AuthServerTest, ConfirmationTokenConfirmsAtOnceAndABadOneIsRefused) {
    std::string token = passwordToken(v2());
    Json::Value c = confirm(v2(), token, first(v2()));
    Json::Value final =
        confirm(v2(), token, textAnswer(c["Challenge"]["TextChallenge"][0]["RefID"].asString()));
    // (polls 1: one pending answer first)
    if (!final["IsFinal"].asBool())
        final = confirm(v2(), token,
                        textAnswer(c["Challenge"]["TextChallenge"][0]["RefID"].asString()));
    std::string conf = final["ConfToken"].asString();
    ASSERT_FALSE(conf.empty());
    Json::Value withConf = first(v2());
    withConf["ConfToken"] = conf;
    Json::Value direct = confirm(v2(), token, withConf);
    EXPECT_TRUE(direct["IsFinal"].asBool());
    EXPECT_FALSE(direct["IsError"].asBool());

    withConf["ConfToken"] = conf + "x";
    Json::Value refused = confirm(v2(), token, withConf);
    EXPECT_TRUE(refused["IsError"].asBool());
    EXPECT_EQ(refused["Error"].asString(), "invalid_conf_token");
    svc().expireTokens("conf");
    withConf["ConfToken"] = conf;
    EXPECT_EQ(confirm(v2(), token, withConf)["Error"].asString(), "invalid_conf_token");
}

TEST_F(AuthServerTest, DeclinedAndCancelledConfirmations) {
    svc().configure(json(R"({"confirmation": {"polls": 0, "outcome": "decline"}})"));
    std::string token = passwordToken(v2());
    Json::Value c = confirm(v2(), token, first(v2()));
    Json::Value declined =
        confirm(v2(), token, textAnswer(c["Challenge"]["TextChallenge"][0]["RefID"].asString()));
    EXPECT_TRUE(declined["IsError"].asBool());
    EXPECT_EQ(declined["Error"].asString(), "authentication_declined");
    svc().configure(json(R"({"confirmation": {"outcome": "cancel"}})"));
    c = confirm(v2(), token, first(v2()));
    Json::Value cancelled =
        confirm(v2(), token, textAnswer(c["Challenge"]["TextChallenge"][0]["RefID"].asString()));
    EXPECT_EQ(cancelled["Error"].asString(), "cancelled_by_user");
}

TEST_F(AuthServerTest, ConfirmationWithBasicCredentialsAndItsRefusals) {
    std::vector<std::string> basic = {"Authorization: Basic " +
                                      b64(Bytes({'d', 'e', 'm', 'o', ':'}))};
    HttpResult r = post(v1().auth + "/confirmation", "", compact(first(v1())), basic);
    ASSERT_EQ(r.status, 200);
    EXPECT_TRUE(json(r.body)["Challenge"]["TextChallenge"].isArray()) << r.body;
    std::string wrong = "demo:wrong";
    HttpResult bad = post(v1().auth + "/confirmation", "", compact(first(v1())),
                          {"Authorization: Basic " + b64(Bytes(wrong.begin(), wrong.end()))});
    EXPECT_EQ(json(bad.body)["Error"].asString(), "invalid_password");
    HttpResult none = post(v1().auth + "/confirmation", "", compact(first(v1())));
    EXPECT_TRUE(json(none.body)["IsError"].asBool());
    // An unknown operation, and an operation id at the version 1 endpoint.
    std::string token = passwordToken(v1());
    Json::Value unknown = confirm(v1(), token, first(v1(), "tx-unknown", false), false);
    EXPECT_EQ(unknown["Error"].asString(), "invalid_transaction");
    Json::Value wrongKind = first(v1());
    wrongKind["OperationId"] = "op-1";
    EXPECT_TRUE(confirm(v1(), token, wrongKind, false)["IsError"].asBool());
    // Not JSON at all.
    EXPECT_EQ(post(v1().auth + "/confirmation", token, "{not json").status, 400);
    // No "v2.0" confirmation without a document store.
    EXPECT_EQ(post(v1().auth + "/v2.0/confirmation", token, compact(first(v1()))).status, 404);
}

TEST_F(AuthServerTest, SignOutEndsTheSessionBehindSilentSignIn) {
    passwordToken(v1());
    auto silent = [] { return get(authorizeUrl(v1(), "&login_hint=demo", true)); };
    EXPECT_FALSE(fragment(silent())["access_token"].empty());
    std::string creds = "demo:demo-password";
    HttpResult out = httpRequest("GET", v1().auth + "/Authentication/SignOut",
                                 {"Authorization: Basic " + b64(Bytes(creds.begin(), creds.end()))},
                                 "", svc().caFile());
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(fragment(silent())["error"], "login_required");
}

}  // namespace
}  // namespace nimbex_test
