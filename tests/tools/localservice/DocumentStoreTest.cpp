// The document store keeps uploads on disk: a large upload is streamed to a
// file, never held in memory. Uploads, downloads and deletions of ordinary
// documents are checked through the module against this service.
#include <sys/stat.h>

#include "ServiceTestBase.h"

namespace nimbex_test {
namespace {

using DocumentStoreTest = ServiceTest;

TEST_F(DocumentStoreTest, LargeUploadIsStreamedToDisk) {
    const std::string token = passwordToken(v2());
    const size_t size = 50u * 1024 * 1024;
    std::string big(size, '\0');
    for (size_t i = 0; i < size; i += 4096) big[i] = static_cast<char>(i / 4096);
    const std::string meta = R"({"AdditionalInfo":{"SmallFile":false},"Filename":"document"})";
    const HttpResult r = post(v2().docstore + "/api/documents", token, big,
                              {"Content-Type: application/octet-stream; charset=utf-8",
                               "VLKEL-POSTDOC: " + b64(Bytes(meta.begin(), meta.end()))});
    ASSERT_EQ(r.status, 200) << r.body;
    const std::string id = json(r.body)["DocumentId"].asString();
    struct stat st;
    ASSERT_EQ(stat((svc().stateDir() + "/documents/" + id).c_str(), &st), 0);
    EXPECT_EQ(static_cast<size_t>(st.st_size), size);
    const Json::Value log = svc().requestLog();
    EXPECT_EQ(log[log.size() - 1]["bodySize"].asUInt64(), size);
    EXPECT_TRUE(log[log.size() - 1]["bodyTruncated"].asBool());
    const HttpResult back = get(v2().docstore + "/api/documents/" + id + "/content", token);
    ASSERT_EQ(back.status, 200);
    EXPECT_TRUE(back.body == big);
}

}  // namespace
}  // namespace nimbex_test
