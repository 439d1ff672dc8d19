// Answers to the certificate, key and PIN operations that the local service
// never sends, through a scripted client.
#include <gtest/gtest.h>

#include <functional>

#include "AuthTestSupport.h"
#include "KelAssertions.h"
#include "base/ErrorCodes.h"

using namespace auth_test;
using nimbex_test::CaughtKelException;
using nimbex_test::KelMessage;

TEST(KeyOperations, MalformedAnswersFailWithTheirMessages) {
    const std::string cert = R"({"ID":3,"CertificateBase64":"MAM="})";
    const struct {
        bool docstore;
        std::vector<std::string> answers;  // after the policy, when the operation reads it
        std::function<void(KelContainerConnector&)> call;
        uint32_t code;
        std::string message;
    } rows[] = {
        {false,
         {"{}"},
         [](KelContainerConnector& c) { c.GetCertificate(7); },
         codes::kNotFound,
         "The certificate in JSON has wrong structure"},
        {false,
         {"<html>"},
         [](KelContainerConnector& c) { c.GetCertificate(7); },
         codes::kFail,
         "Cannot decode server response. The certificate is not a JSON."},
        {false,
         {"{}", "[]"},
         [](KelContainerConnector& c) { c.CreateKey(1, "oid", "", 0); },
         codes::kFail,
         "Cannot get certificate info from server response. Certificate creation failed."},
        {true,
         {"{}", R"({"Operation":{"Status":"Completed","Result":"x"}})"},
         [](KelContainerConnector& c) { c.CreateKey(1, "oid", "", 0); },
         codes::kFail,
         "Cannot get certificate info from server response. Certificate creation failed."},
        {false,
         {"<html>"},
         [](KelContainerConnector& c) { c.InstallPfxBase64("AA==", "pw"); },
         codes::kFail,
         "Cannot decode server response. PFX certificate installation failed."},
        {false,
         {"{\"ID\":3}"},
         [](KelContainerConnector& c) { c.InstallPfxBase64("AA==", "p"); },
         codes::kFail,
         "Cannot get certificate info from server response. PFX certificate installation failed."},
        {false,
         {"x"},
         [](KelContainerConnector& c) { c.InstallCertificate(nullptr, 0); },
         codes::kFail,
         "Cannot decode server response. Certificate installation failed."},
        {false,
         {"[]"},
         [](KelContainerConnector& c) { c.InstallCertificate(nullptr, 0); },
         codes::kFail,
         "Cannot get certificate info from server response. Certificate installation failed."},
        {false,
         {"{}", "null"},
         [](KelContainerConnector& c) { c.DeleteCertificate(7); },
         codes::kNotSupported,
         "Not expected non-empty response for delete certificate command"},
        {true,
         {"{}", R"({"Operation":{"Status":"Completed","Result":[0]}})"},
         [](KelContainerConnector& c) { c.ChangePin(7, "1", "2"); },
         codes::kNotSupported,
         "Not expected non-empty response for change pin command"},
    };
    for (const auto& row : rows) {
        Rig rig(row.docstore);
        rig.connector->SetAccessToken("acc");
        for (const std::string& a : row.answers) rig.service->Add(Answer::Ok(a));
        const KelException e = CaughtKelException([&] { row.call(*rig.connector); });
        EXPECT_EQ(KelMessage(e), row.message);
        EXPECT_EQ(e.code(), row.code) << row.message;
    }

    // Reads of key parameters that fail give the defaults; a record answer passes.
    Rig rig;
    rig.connector->SetAccessToken("acc");
    for (const std::string& a :
         {std::string("{\"a\":1}"), std::string("[1]"), std::string("not json"), cert})
        rig.service->Add(Answer::Ok(a));
    EXPECT_EQ(rig.connector->GetKeySpec(7), 1u);
    EXPECT_TRUE(rig.connector->GetContainerExtensions(7).empty());
    EXPECT_EQ(rig.connector->GetKeyPermissions(7), 0u);
    EXPECT_EQ(rig.connector->GetCertificate(3).certificate, (std::vector<unsigned char>{0x30, 3}));
}
