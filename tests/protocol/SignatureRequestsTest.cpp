#include <gtest/gtest.h>
#include <json/json.h>

#include "base/JsonFields.h"
#include "protocol/DocumentStoreRequests.h"
#include "protocol/SignatureRequests.h"
#include "protocol/TextEncoding.h"

// The version 1 body is built around its Base64 by hand; it must be byte for
// byte what the JSON writer makes of the same object, escapes included.
TEST(SignatureRequestsTest, Version1BodyIsTheWritersText) {
    const unsigned char data[] = {0, 0xFF, '"', '\\', 0x7F};
    for (size_t n = 0; n <= sizeof data; ++n)
        for (const std::string pin : {"", "1234", "a~\x7f/", "q\"\\/\n\t\x01", "пин"})
            for (int flags = 0; flags < 4; ++flags) {
                const bool document = flags & 1;
                const uint32_t alg = flags & 2 ? 32780 : 0;
                Json::Value expected;
                expected["Content"] = EncodeBase64(data, n);
                expected["Name"] = kSignedDocumentName;
                Json::Value& signature = expected["Signature"];
                signature["CertificateId"] = 4294967295u;
                signature["Type"] = 1;
                if (!pin.empty()) signature["PinCode"] = pin;
                signature["Parameters"] = Json::Value();
                if (!document) signature["Parameters"]["Hash"] = "True";
                if (alg) signature["Parameters"]["HashAlgorithm"] = alg;
                EXPECT_EQ(std::string(MakeSignRequestV1(4294967295u, n ? data : nullptr, n, alg,
                                                        pin, document)),
                          Json::FastWriter().write(expected));
            }
}

TEST(SignatureRequestsTest, UploadsFromTenMebibytesAreLargeFiles) {
    for (size_t size : {10485759u, 10485760u}) {
        const std::vector<unsigned char> text = DecodeBase64(MakeUploadMetadata(size));
        Json::Value v;
        ASSERT_TRUE(ParseJson(std::string(text.begin(), text.end()), v));
        EXPECT_EQ(v["AdditionalInfo"]["SmallFile"].asBool(), size < 10485760u);
    }
}
