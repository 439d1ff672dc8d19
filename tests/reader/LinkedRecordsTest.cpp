// Tracing a hash presented for signing back to its document: TLS 1.3
// CertificateVerify content and CMS signed attributes made by `openssl cms`.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TempEnv.h"
#include "reader/DocumentHashStorage.h"

using HashStorage::DocumentHashStorage;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr uint32_t kSha256 = 0x800C;
constexpr uint32_t kNone = DocumentHashStorage::kNoRecord;

Bytes Sha256(const Bytes& data) {
    Bytes out(32);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sha256(), nullptr);
    return out;
}

Bytes TlsContent(const Bytes& transcriptHash) {
    Bytes content(64, 0x20);
    const std::string context = "TLS 1.3, client CertificateVerify";
    content.insert(content.end(), context.begin(), context.end());
    content.push_back(0);
    content.insert(content.end(), transcriptHash.begin(), transcriptHash.end());
    return content;
}

// A record with data and a hash value set.
uint32_t Add(DocumentHashStorage& s, const Bytes& data, const Bytes& value,
             uint32_t algorithm = kSha256) {
    const uint32_t id = s.CreateRecord(algorithm);
    EXPECT_EQ(0u, s.AddData(id, data.data(), data.size()));
    if (!value.empty()) {
        EXPECT_EQ(0u, s.SetHashValue(id, value.data(), value.size()));
    }
    return id;
}

struct Linked {
    uint32_t first;
    uint32_t second;
};

Linked Find(const DocumentHashStorage& s, const Bytes& hash, uint32_t secondOnEntry = 1) {
    Linked out{0, secondOnEntry};
    s.FindLinkedRecords(hash.data(), hash.size(), &out.first, &out.second);
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Signs `data` with `openssl cms` and returns the DER of the signer's signed
// attributes in their SET form (what the signature is computed over).
Bytes SignedAttributesFromOpensslCms(const std::string& dir, const Bytes& data) {
    const std::string key = dir + "/key.pem", cert = dir + "/cert.pem", in = dir + "/data.bin",
                      out = dir + "/sig.der";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
        " -subj /CN=signer -days 1 -keyout " +
        key + " -out " + cert + " >/dev/null 2>&1";
    const std::string sign = "openssl cms -sign -binary -md sha256 -in " + in + " -signer " + cert +
                             " -inkey " + key + " -outform DER -out " + out + " >/dev/null 2>&1";
    if (system(make.c_str()) != 0 || system(sign.c_str()) != 0) return {};
    const Bytes der = ReadFile(out);
    const unsigned char* p = der.data();
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size()));
    if (!cms) return {};
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
    Bytes attributes;
    for (int i = 0; si && i < CMS_signed_get_attr_count(si); ++i) {
        unsigned char* one = nullptr;
        const int n = i2d_X509_ATTRIBUTE(CMS_signed_get_attr(si, i), &one);
        if (n > 0) attributes.insert(attributes.end(), one, one + n);
        OPENSSL_free(one);
    }
    CMS_ContentInfo_free(cms);
    // SET OF, in the order they were encoded.
    Bytes set{0x31};
    const size_t n = attributes.size();
    if (n < 0x80) {
        set.push_back(static_cast<unsigned char>(n));
    } else if (n < 0x100) {
        set.insert(set.end(), {0x81, static_cast<unsigned char>(n)});
    } else {
        set.insert(set.end(),
                   {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    }
    set.insert(set.end(), attributes.begin(), attributes.end());
    return set;
}

}  // namespace

TEST(LinkedRecords, DirectMatchAndNoMatch) {
    DocumentHashStorage s(1 << 20, 5);
    const Bytes data{1, 2, 3}, value{4, 5};
    const uint32_t plain = Add(s, data, value);
    EXPECT_EQ(plain, Find(s, value).first);
    EXPECT_EQ(1u, Find(s, value).second);  // nothing linked: unchanged
    const Linked none = Find(s, Bytes{9});
    EXPECT_EQ(kNone, none.first);
    EXPECT_EQ(1u, none.second);
    // A record without a hash value never matches, even an empty one.
    s.CreateRecord(kSha256);
    EXPECT_EQ(kNone, Find(s, Bytes()).first);
    // A record that is its own value matches by data, empty with empty.
    const uint32_t raw = s.CreateRecord(DocumentHashStorage::kDataIsValue);
    EXPECT_EQ(raw, Find(s, Bytes()).first);
    // A null first output is allowed.
    uint32_t second = 1;
    s.FindLinkedRecords(value.data(), value.size(), nullptr, &second);
    EXPECT_EQ(1u, second);
}

TEST(LinkedRecords, TlsCertificateVerifyBoundaries) {
    DocumentHashStorage s(1 << 20, 5);
    const Bytes document{'d', 'o', 'c'};
    const Bytes transcript = Sha256(document);
    const uint32_t doc = Add(s, document, transcript);
    const Bytes content = TlsContent(transcript);
    ASSERT_EQ(98u + 32u, content.size());
    const uint32_t verify = Add(s, content, Sha256(content));
    Linked found = Find(s, Sha256(content));
    EXPECT_EQ(verify, found.first);
    EXPECT_EQ(doc, found.second);
    // Zero on entry stays zero.
    EXPECT_EQ(0u, Find(s, Sha256(content), 0).second);

    // Exactly 99 bytes: a one-byte transcript hash.
    DocumentHashStorage t(1 << 20, 5);
    const uint32_t oneByte = Add(t, Bytes{0x42}, Bytes(), DocumentHashStorage::kDataIsValue);
    const Bytes content99 = TlsContent(Bytes{0x42});
    const uint32_t v99 = Add(t, content99, Bytes{7});
    found = Find(t, Bytes{7});
    EXPECT_EQ(v99, found.first);
    EXPECT_EQ(oneByte, found.second);

    // Exactly 98 bytes: no candidate, even with a record whose value is empty.
    DocumentHashStorage u(1 << 20, 5);
    u.CreateRecord(DocumentHashStorage::kDataIsValue);
    Add(u, TlsContent(Bytes()), Bytes{8});
    EXPECT_EQ(1u, Find(u, Bytes{8}).second);

    // A different context string or padding is not TLS content.
    for (size_t at : {size_t(0), size_t(63), size_t(64), size_t(96), size_t(97)}) {
        DocumentHashStorage w(1 << 20, 5);
        Add(w, document, transcript);
        Bytes broken = content;
        broken[at] ^= 0x01;
        Add(w, broken, Bytes{9});
        EXPECT_EQ(1u, Find(w, Bytes{9}).second) << "byte " << at;
    }
}

TEST(LinkedRecords, CmsSignedAttributesFromOpenssl) {
    nimbex_test::TempDir dir;
    Bytes document(3000);
    for (size_t i = 0; i < document.size(); ++i) document[i] = static_cast<unsigned char>(i * 7);
    const Bytes attributes = SignedAttributesFromOpensslCms(dir.path(), document);
    ASSERT_FALSE(attributes.empty()) << "openssl cms failed";

    DocumentHashStorage s(1 << 20, 5);
    Add(s, Bytes{1}, Bytes{2});  // unrelated
    const uint32_t doc = Add(s, document, Sha256(document));
    const uint32_t signedAttrs = Add(s, attributes, Sha256(attributes));
    Linked found = Find(s, Sha256(attributes));
    EXPECT_EQ(signedAttrs, found.first);
    EXPECT_EQ(doc, found.second);

    // A document record that is its own value links the same way.
    DocumentHashStorage raw(1 << 20, 5);
    const uint32_t digestRecord =
        Add(raw, Sha256(document), Bytes(), DocumentHashStorage::kDataIsValue);
    Add(raw, attributes, Bytes{3});
    EXPECT_EQ(digestRecord, Find(raw, Bytes{3}).second);

    // Damaged attributes are no candidate.
    for (size_t cut : {size_t(1), size_t(10), attributes.size() - 1}) {
        DocumentHashStorage d(1 << 20, 5);
        Add(d, document, Sha256(document));
        Add(d, Bytes(attributes.begin(), attributes.begin() + cut), Bytes{4});
        EXPECT_EQ(1u, Find(d, Bytes{4}).second) << "cut at " << cut;
    }
    // The [0] IMPLICIT form found inside SignerInfo is not the SET form.
    DocumentHashStorage implicit(1 << 20, 5);
    Add(implicit, document, Sha256(document));
    Bytes tagged = attributes;
    tagged[0] = 0xA0;
    Add(implicit, tagged, Bytes{5});
    EXPECT_EQ(1u, Find(implicit, Bytes{5}).second);
}

TEST(LinkedRecords, TlsCandidateIsTriedBeforeCmsForEachRecord) {
    DocumentHashStorage s(1 << 20, 5);
    const Bytes a = Sha256(Bytes{'a'});
    const uint32_t first = Add(s, Bytes{'a'}, a);
    const Bytes content = TlsContent(a);
    const uint32_t verify = Add(s, content, Bytes{6});
    // The verify record matches itself too, but the earlier record comes first.
    EXPECT_EQ(first, Find(s, Bytes{6}).second);
    s.RemoveRecord(first);
    EXPECT_EQ(1u, Find(s, Bytes{6}).second);
    EXPECT_EQ(verify, Find(s, Bytes{6}).first);
}
