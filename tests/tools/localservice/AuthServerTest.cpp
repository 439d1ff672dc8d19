// The auth server's refusals and the settings that steer it. What the module
// sends when it signs in and confirms is checked against this service by the
// connector's own tests.
#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

using AuthServerTest = ServiceTest;

TEST_F(AuthServerTest, RefusesWhatItMustNotAccept) {
    const std::string demo = basic("demo", "demo-password");
    const std::string interactive = authorizeUrl(v1(), "", false);
    auto replaced = [](std::string url, const std::string& from, const std::string& to) {
        return url.replace(url.find(from), from.size(), to);
    };
    // What the refused requests differ from is accepted: the interactive page (the browser
    // application's sign-in in AuthService), and a confirmation by a known login with an empty
    // password (the challenge identifies the user).
    EXPECT_NE(post(v1().auth + "/confirmation", "", first(v1()), {basic("demo", "")})
                  .body.find("\"TextChallenge\""),
              std::string::npos);
    const std::string v2Confirm = v2().auth + "/v2.0/confirmation";
    expectRefused({
        {"unknown user", "POST", v2().auth + "/oauth/token", "", grantBody(v2(), "nobody", "x"), "",
         400, "\"invalid_grant\""},
        {"another service's resource", "POST", v2().auth + "/oauth/token", "",
         grantBody(v1(), "demo", "demo-password"), "", 400, "\"invalid_request\""},
        {"no grant type", "POST", v2().auth + "/oauth/token", "",
         "username=demo&password=demo-password", "", 400, "\"error\""},
        {"silent sign-in without a session", "GET", authorizeUrl(v1(), "&login_hint=demo", true),
         "", "", "", 302, "#error=login_required"},
        {"forged id token", "GET", authorizeUrl(v1(), "&id_token_hint=a.b.c", true), "", "", "",
         302, "#error=login_required"},
        {"another client", "GET", replaced(interactive, "veltra.cloud.csp", "someone.else"), "", "",
         "", 400, ""},
        {"another redirect", "GET", replaced(interactive, "cloudcsp", "elsewhere"), "", "", "", 400,
         ""},
        {"document store parameter without a document store", "GET",
         authorizeUrl(v1(), "&sign_api_version=2", false), "", "", "", 400, ""},
        {"operation without the document store parameter", "GET",
         authorizeUrl(v2(), "&kel_operation_id=x", false), "", "", "", 400, ""},
        {"refused confirmation token", "POST", v2Confirm, "",
         first(v2(), json(R"({"ConfToken":"made-up"})")), demo, 200, "invalid_conf_token"},
        {"confirmation with a wrong password", "POST", v2Confirm, "", first(v2()),
         basic("demo", "wrong"), 200, "invalid_password"},
        {"confirmation without a caller", "POST", v2Confirm, "", first(v2()), "", 200,
         "\"IsError\":true"},
        {"unknown transaction", "POST", v1().auth + "/confirmation", "",
         first(v1(), json(R"({"TransactionTokenId":"tx-unknown"})")), demo, 200,
         "invalid_transaction"},
        {"operation at the version 1 endpoint", "POST", v1().auth + "/confirmation", "",
         first(v1(), json(R"({"OperationId":"op-1"})")), demo, 200, "\"IsError\":true"},
        {"not JSON", "POST", v1().auth + "/confirmation", "", "{not json", demo, 400, ""},
        {"version 2 endpoint without a document store", "POST", v1().auth + "/v2.0/confirmation",
         "", first(v1()), demo, 404, ""},
    });
}

TEST_F(AuthServerTest, ExpiredTokensAreRefused) {
    svc().configure(json(R"({"confirmation": {"polls": 0}})"));
    const Json::Value grant =
        json(post(v2().auth + "/oauth/token", "", grantBody(v2(), "demo", "demo-password")).body);
    const std::string access = grant["access_token"].asString();
    const std::string v2Confirm = v2().auth + "/v2.0/confirmation";
    Json::Value conf;
    conf["ConfToken"] = confirm(v2(), access)["ConfToken"];
    ASSERT_TRUE(conf["ConfToken"].isString());

    const std::string silentById = authorizeUrl(
        v2(), "&id_token_hint=" + grant["id_token"].asString() + "&sign_api_version=2", true);
    EXPECT_NE(get(silentById).headers["location"].find("#access_token="), std::string::npos);

    // Each kind expires alone (the access token still serves after the other two); the
    // expired access token is refused in ReaderFaults.ExpiredToken.
    svc().expireTokens("id");
    svc().expireTokens("conf");
    EXPECT_EQ(get(v2().sign + "/rest/api/certificates", access).status, 200);
    expectRefused({
        {"id token", "GET", silentById, "", "", "", 302, "#error=login_required"},
        {"confirmation token", "POST", v2Confirm, "", first(v2(), conf),
         basic("demo", "demo-password"), 200, "invalid_conf_token"},
    });
}

// Approval and decline are what the module's confirmations meet (KeyOperationsService).
TEST_F(AuthServerTest, CancelledConfirmation) {
    const std::string token = passwordToken(v2());
    svc().configure(json(R"({"confirmation": {"polls": 0, "outcome": "cancel"}})"));
    const Json::Value end = confirm(v2(), token);
    EXPECT_TRUE(end["IsError"].asBool());
    EXPECT_NE(compact(end).find("cancelled_by_user"), std::string::npos) << compact(end);
}

}  // namespace
}  // namespace nimbex_test
