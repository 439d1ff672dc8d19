#include <dirent.h>
#include <sys/stat.h>

#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

class DocumentStoreTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        token_ = passwordToken(v2());
    }
    static std::string meta(bool small) {
        std::string m = std::string("{\"AdditionalInfo\":{\"SmallFile\":") +
                        (small ? "true" : "false") + "},\"Filename\":\"document\"}";
        return b64(Bytes(m.begin(), m.end()));
    }
    HttpResult upload(const std::string& body, const std::string& metaHeader) {
        std::vector<std::string> h = {"Content-Type: application/octet-stream; charset=utf-8",
                                      "cache-control: no-cache"};
        if (!metaHeader.empty()) h.push_back("VLKEL-POSTDOC: " + metaHeader);
        return post(v2().docstore + "/api/documents", token_, body, h);
    }
    std::string uploadOk(const std::string& body) {
        HttpResult r = upload(body, meta(body.size() < 10485760));
        EXPECT_EQ(r.status, 200) << r.body;
        return json(r.body)["DocumentId"].asString();
    }
    std::string token_;
};

TEST_F(DocumentStoreTest, UploadContentAndDelete) {
    std::string doc(1000, 'd');
    doc[3] = '\0';
    std::string id = uploadOk(doc);
    ASSERT_FALSE(id.empty());
    HttpResult content = get(v2().docstore + "/api/documents/" + id + "/content", token_);
    EXPECT_EQ(content.status, 200);
    EXPECT_EQ(content.body, doc);
    HttpResult gone = del(v2().docstore + "/api/documents/" + id, token_);
    EXPECT_EQ(gone.status, 200);
    EXPECT_EQ(gone.body, "");
    EXPECT_EQ(get(v2().docstore + "/api/documents/" + id + "/content", token_).status, 404);
    EXPECT_EQ(del(v2().docstore + "/api/documents/" + id, token_).status, 404);
}

TEST_F(DocumentStoreTest, UploadRefusals) {
    auto error = [](const HttpResult& r) { return json(r.body)["error"].asString(); };
    EXPECT_EQ(error(upload("abc", "")), "invalid_request");
    EXPECT_EQ(error(upload("abc", "!!!")), "invalid_request");
    EXPECT_EQ(error(upload("abc", meta(false))), "invalid_request");  // a small file
    EXPECT_EQ(error(upload("", meta(true))), "content_required");
    std::string other = token_;
    token_ = passwordToken(v1());
    EXPECT_EQ(upload("abc", meta(true)).status, 401);
    token_ = other;
    // Documents belong to their uploader.
    std::string id = uploadOk("mine");
    EXPECT_EQ(get(v2().docstore + "/api/documents/" + id + "/content", "").status, 401);
}

TEST_F(DocumentStoreTest, SmallFileLimitIsTenMebibytes) {
    std::string exact(10485760, 'x');
    EXPECT_EQ(json(upload(exact, meta(true)).body)["error"].asString(), "invalid_request");
    EXPECT_EQ(upload(exact, meta(false)).status, 200);
    exact.pop_back();
    EXPECT_EQ(upload(exact, meta(true)).status, 200);
}

TEST_F(DocumentStoreTest, LargeUploadIsStreamedToDisk) {
    const size_t size = 50u * 1024 * 1024;
    std::string big(size, '\0');
    for (size_t i = 0; i < size; i += 4096) big[i] = static_cast<char>(i / 4096);
    std::string id = uploadOk(big);
    ASSERT_FALSE(id.empty());
    struct stat st;
    ASSERT_EQ(stat((svc().stateDir() + "/documents/" + id).c_str(), &st), 0);
    EXPECT_EQ(static_cast<size_t>(st.st_size), size);
    Json::Value log = svc().requestLog();
    const Json::Value& last = log[log.size() - 1];
    EXPECT_EQ(last["bodySize"].asUInt64(), size);
    EXPECT_TRUE(last["bodyTruncated"].asBool());
    HttpResult back = get(v2().docstore + "/api/documents/" + id + "/content", token_);
    ASSERT_EQ(back.status, 200);
    EXPECT_EQ(back.body.size(), size);
    EXPECT_TRUE(back.body == big);
}

TEST_F(DocumentStoreTest, Version2SignatureOfAnUploadedHash) {
    Bytes hash = digest(EVP_sha256(), "to be signed");
    std::string dataId = uploadOk(std::string(hash.begin(), hash.end()));
    std::string display = uploadOk("what the user sees");
    Json::Value b;
    b["Signature"]["PinCode"] = "1234";
    b["Signature"]["Type"] = 1;
    b["Signature"]["Parameters"]["Hash"] = "True";
    b["Signature"]["Parameters"]["HashAlgorithm"] = 0x800C;
    b["Signature"]["CertificateId"] = 1;
    b["BinaryData"][0]["RefId"] = dataId;
    b["BinaryData"][0]["RelatedRefId"] = display;
    HttpResult r = signedPost(v2().sign + "/rest/api/v2/signature", token_, compact(b));
    ASSERT_EQ(r.status, 200);
    Json::Value op = json(r.body)["Operation"];
    ASSERT_EQ(op["Status"].asString(), "Completed") << r.body;
    std::string sigId = op["Result"]["ProcessedDocuments"][0]["RefId"].asString();
    HttpResult sig = get(v2().docstore + "/api/documents/" + sigId + "/content", token_);
    ASSERT_EQ(sig.status, 200);
    EXPECT_TRUE(verify(certificate(v2(), token_, 1), hash, Bytes(sig.body.begin(), sig.body.end()),
                       EVP_sha256()));
    for (const auto& id : {dataId, display, sigId})
        EXPECT_EQ(del(v2().docstore + "/api/documents/" + id, token_).status, 200);

    b["BinaryData"][0]["RefId"] = "doc-unknown";
    Json::Value unknown =
        json(signedPost(v2().sign + "/rest/api/v2/signature", token_, compact(b)).body);
    EXPECT_EQ(unknown["Operation"]["Status"].asString(), "Error");
    EXPECT_EQ(unknown["Operation"]["Error"].asString(), "invalid_request");
}

TEST_F(DocumentStoreTest, Version2SignatureWaitsForConfirmationWhenThePolicySaysSo) {
    svc().configure(json(R"({"policy": {"mfa": {"SignDocument": true}}})"));
    Bytes hash = digest(EVP_sha256(), "confirm me");
    std::string dataId = uploadOk(std::string(hash.begin(), hash.end()));
    Json::Value b;
    b["Signature"]["PinCode"] = "1234";
    b["Signature"]["Type"] = 1;
    b["Signature"]["Parameters"]["Hash"] = "True";
    b["Signature"]["CertificateId"] = 2;
    b["BinaryData"][0]["RefId"] = dataId;
    std::string body = compact(b);
    Json::Value pending = json(signedPost(v2().sign + "/rest/api/v2/signature", token_, body).body);
    ASSERT_EQ(pending["Operation"]["Status"].asString(), "Pending");
    // Confirmed by answering the text challenge until the answer is final.
    Json::Value first;
    first["Resource"] = v2().resource;
    first["ClientId"] = "veltra.cloud.csp";
    first["OperationId"] = pending["Operation"]["Id"];
    Json::Value ch = json(post(v2().auth + "/v2.0/confirmation", token_, compact(first)).body);
    std::string ref = ch["Challenge"]["TextChallenge"][0]["RefID"].asString();
    Json::Value answer;
    answer["ChallengeResponse"]["TextChallengeResponse"][0]["RefId"] = ref;
    answer["Resource"] = v2().resource;
    answer["ClientId"] = "veltra.cloud.csp";
    Json::Value final;
    for (int i = 0; i < 5 && !final["IsFinal"].asBool(); ++i)
        final = json(post(v2().auth + "/v2.0/confirmation", token_, compact(answer)).body);
    ASSERT_TRUE(final["IsFinal"].asBool());
    Json::Value done =
        json(signedPost(v2().sign + "/rest/api/v2/signature", final["AccessToken"].asString(), body)
                 .body);
    ASSERT_EQ(done["Operation"]["Status"].asString(), "Completed") << compact(done);
    HttpResult sig = get(
        v2().docstore + "/api/documents/" +
            done["Operation"]["Result"]["ProcessedDocuments"][0]["RefId"].asString() + "/content",
        token_);
    EXPECT_TRUE(verify(certificate(v2(), token_, 2), hash, Bytes(sig.body.begin(), sig.body.end()),
                       EVP_sha256()));
}

}  // namespace
}  // namespace nimbex_test
