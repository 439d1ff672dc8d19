// Tracing a hash presented for signing back to its document: TLS 1.3
// CertificateVerify content and CMS signed attributes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <utility>
#include <vector>

#include "TestCertificates.h"
#include "reader/DocumentHashStorage.h"

using HashStorage::DocumentHashStorage;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr uint32_t kSha256 = 0x800C;
constexpr uint32_t kNone = DocumentHashStorage::kNoRecord;

Bytes Sha256(const Bytes& data) {
    return nimbex_test::DigestOf(EVP_sha256(), data);
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

// The record matching `hash` and the record it links to.
using Linked = std::pair<uint32_t, uint32_t>;

Linked Find(const DocumentHashStorage& s, const Bytes& hash, uint32_t secondOnEntry = 1) {
    Linked out{0, secondOnEntry};
    s.FindLinkedRecords(hash.data(), hash.size(), &out.first, &out.second);
    return out;
}

// The signed attributes in their SET form (what a CMS signature is computed over) with only
// a messageDigest attribute. Attributes as OpenSSL's CMS code writes them are linked through
// the reader in ReaderSigningTest; malformed ones are refused in SignedAttributesTest.
Bytes SignedAttributes(const Bytes& digest) {
    Bytes der{0x31, 0x31, 0x30, 0x2F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
              0xF7, 0x0D, 0x01, 0x09, 0x04, 0x31, 0x22, 0x04, 0x20};
    der.insert(der.end(), digest.begin(), digest.end());
    return der;
}

}  // namespace

TEST(LinkedRecords, DirectMatchAndNoMatch) {
    DocumentHashStorage s(1 << 20, 5);
    const Bytes data{1, 2, 3}, value{4, 5};
    const uint32_t plain = Add(s, data, value);
    EXPECT_EQ(Linked(plain, 1), Find(s, value));  // nothing linked: unchanged
    EXPECT_EQ(Linked(kNone, 1), Find(s, Bytes{9}));
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
    EXPECT_EQ(Linked(verify, doc), Find(s, Sha256(content)));
    // Zero on entry stays zero.
    EXPECT_EQ(0u, Find(s, Sha256(content), 0).second);

    // Exactly 99 bytes: a one-byte transcript hash.
    DocumentHashStorage t(1 << 20, 5);
    const uint32_t oneByte = Add(t, Bytes{0x42}, Bytes(), DocumentHashStorage::kDataIsValue);
    const Bytes content99 = TlsContent(Bytes{0x42});
    const uint32_t v99 = Add(t, content99, Bytes{7});
    EXPECT_EQ(Linked(v99, oneByte), Find(t, Bytes{7}));

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

TEST(LinkedRecords, CmsSignedAttributes) {
    Bytes document(3000);
    for (size_t i = 0; i < document.size(); ++i) document[i] = static_cast<unsigned char>(i * 7);
    const Bytes attributes = SignedAttributes(Sha256(document));

    DocumentHashStorage s(1 << 20, 5);
    Add(s, Bytes{1}, Bytes{2});  // unrelated
    const uint32_t doc = Add(s, document, Sha256(document));
    const uint32_t signedAttrs = Add(s, attributes, Sha256(attributes));
    EXPECT_EQ(Linked(signedAttrs, doc), Find(s, Sha256(attributes)));

    // A document record that is its own value links the same way.
    DocumentHashStorage raw(1 << 20, 5);
    const uint32_t digestRecord =
        Add(raw, Sha256(document), Bytes(), DocumentHashStorage::kDataIsValue);
    Add(raw, attributes, Bytes{3});
    EXPECT_EQ(digestRecord, Find(raw, Bytes{3}).second);
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
    EXPECT_EQ(Linked(verify, 1), Find(s, Bytes{6}));
}
