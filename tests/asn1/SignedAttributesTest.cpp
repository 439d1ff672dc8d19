// The strict DER decoding of signed attributes.
#include <gtest/gtest.h>

#include <vector>

#include "asn1/DerReader.h"
#include "asn1/SignedAttributes.h"

using Bytes = std::vector<unsigned char>;

namespace {

const Bytes kDigestOid{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const Bytes kContentTypeOid{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x03};

// An element whose content is shorter than 256 bytes.
Bytes Tlv(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
    if (content.size() >= 0x80) out.push_back(0x81);
    out.push_back(static_cast<unsigned char>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Attribute(const Bytes& oid, const Bytes& values) {
    return Tlv(0x30, Cat({oid, Tlv(0x31, values)}));
}

bool Digest(const Bytes& der, Bytes* out) {
    return asn1::FindMessageDigest(der.data(), der.size(), out);
}

}  // namespace

TEST(SignedAttributes, FindsTheFirstDecodableDigest) {
    const Bytes digest{1, 2, 3, 4};
    const Bytes good = Tlv(0x31, Cat({Attribute(kContentTypeOid, Tlv(0x06, {0x2A, 0x03})),
                                      Attribute(kDigestOid, Tlv(0x04, digest))}));
    Bytes out;
    ASSERT_TRUE(Digest(good, &out));
    EXPECT_EQ(digest, out);

    // A first digest attribute whose value is no OCTET STRING is passed over.
    const Bytes second =
        Tlv(0x31, Cat({Attribute(kDigestOid, Tlv(0x02, {5})),
                       Attribute(kDigestOid, Cat({Tlv(0x04, {7}), Tlv(0x04, {8})})),
                       Attribute(kDigestOid, Tlv(0x04, {9}))}));
    ASSERT_TRUE(Digest(second, &out));
    EXPECT_EQ(Bytes{7}, out);
    // An empty digest is still a digest.
    ASSERT_TRUE(Digest(Tlv(0x31, Attribute(kDigestOid, Tlv(0x04, {}))), &out));
    EXPECT_TRUE(out.empty());
    // Long lengths in their shortest form are fine.
    const Bytes longDigest(200, 0x5A);
    ASSERT_TRUE(Digest(Tlv(0x31, Attribute(kDigestOid, Tlv(0x04, longDigest))), &out));
    EXPECT_EQ(longDigest, out);
}

TEST(SignedAttributes, AnythingMalformedIsNoCandidate) {
    const Bytes value = Tlv(0x04, {1});
    Bytes out{0xEE};
    const std::vector<Bytes> bad = {
        {},
        Tlv(0x31, {}),                                                // no attributes
        Tlv(0x31, Attribute(kContentTypeOid, value)),                 // no digest attribute
        Tlv(0x31, Attribute(kDigestOid, {})),                         // digest without values
        Tlv(0x31, Attribute(kDigestOid, Tlv(0x24, Tlv(0x04, {1})))),  // constructed OCTET STRING
        Tlv(0x30, Attribute(kDigestOid, value)),                      // SEQUENCE, not SET
        Tlv(0xA0, Attribute(kDigestOid, value)),                      // implicitly tagged
        Cat({Tlv(0x31, Attribute(kDigestOid, value)), {0x00}}),       // trailing byte
        {0x31, 0x80, 0x00, 0x00},                                     // indefinite length
        Cat({{0x31, 0x81, 0x10}, Attribute(kDigestOid, value)}),  // long form for a short length
        Cat({{0x31, 0x82, 0x00, 0x10}, Attribute(kDigestOid, value)}),  // leading zero length byte
        {0x31, 0x85, 1, 0, 0, 0, 0},                                    // length of 5 bytes
        Tlv(0x31, Cat({Attribute(kDigestOid, value), Tlv(0x30, kDigestOid)})),   // bad 2nd element
        Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, {0x2A, 0x86}), Tlv(0x31, value)}))),  // OID cut short
        Tlv(0x31, Tlv(0x30, Cat({Tlv(0x06, {0x80, 0x01}), Tlv(0x31, value)}))),  // OID padded
        Tlv(0x31, Tlv(0x30, Cat({kDigestOid, Tlv(0x31, value), Tlv(0x05, {})}))),  // extra field
        Tlv(0x31, Attribute(kDigestOid, Cat({value, {0x04, 0x05, 0x01}}))),  // later value cut
        Tlv(0x31, Attribute(kDigestOid, {0x1F, 0x05, 0x00})),  // high tag form for a low number
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(Digest(bad[i], &out)) << "case " << i;
        EXPECT_EQ(Bytes{0xEE}, out) << "case " << i;
    }
}

TEST(SignedAttributes, ReaderWalksHighTagNumbers) {
    const Bytes der{0x9F, 0x81, 0x00, 0x01, 0xAA, 0x04, 0x00};
    asn1::DerReader reader(der.data(), der.size());
    asn1::DerElement e;
    ASSERT_TRUE(reader.Next(&e));
    EXPECT_EQ(asn1::TagClass::ContextSpecific, e.tagClass);
    EXPECT_EQ(128u, e.tagNumber);
    EXPECT_EQ(1u, e.length);
    ASSERT_TRUE(reader.Next(&e));
    EXPECT_EQ(4u, e.tagNumber);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.Next(&e));
    EXPECT_FALSE(reader.failed());
}
