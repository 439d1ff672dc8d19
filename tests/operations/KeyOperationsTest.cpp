// Answers to the certificate, key and PIN operations that the local service
// never sends, through a scripted client.
#include <gtest/gtest.h>

#include <functional>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "base/ErrorCodes.h"

using namespace auth_test;

TEST(KeyOperations, MalformedAnswersFailWithTheirMessages) {
    typedef KelContainerConnector C;
    const struct {
        std::vector<std::string> answers;  // the policy first, when the operation reads it
        std::function<void(C&)> call;
        uint32_t code;
        std::string message;
    } rows[] = {
        {{"{}"},
         [](C& c) { c.GetCertificate(7); },
         codes::kNotFound,
         "The certificate in JSON has wrong structure"},
        {{"{}", "[]"},
         [](C& c) { c.CreateKey(1, "oid", "", 0); },
         codes::kFail,
         "Cannot get certificate info from server response. Certificate creation failed."},
        {{"<html>"},
         [](C& c) { c.InstallPfxBase64("AA==", "pw"); },
         codes::kFail,
         "Cannot decode server response. PFX certificate installation failed."},
        {{"{}", "null"},
         [](C& c) { c.DeleteCertificate(7); },
         codes::kNotSupported,
         "Not expected non-empty response for delete certificate command"},
    };
    for (const auto& row : rows) {
        Rig rig;
        rig.connector->SetAccessToken("acc");
        for (const std::string& a : row.answers) rig.service->Add(Answer::Ok(a));
        const KelException e = nimbex_test::CaughtKelException([&] { row.call(*rig.connector); });
        EXPECT_EQ(nimbex_test::KelMessage(e), row.message);
        EXPECT_EQ(e.code(), row.code) << row.message;
    }
}
