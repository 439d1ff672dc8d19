#include "asn1/SignedAttributes.h"

#include <cstring>

#include "asn1/DerReader.h"

namespace asn1 {

namespace {

// 1.2.840.113549.1.9.4
const uint8_t kMessageDigestOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};

struct Attribute {
    DerElement type;
    DerElement values;
};

bool DecodeAttribute(const DerElement& element, Attribute* out) {
    if (!element.Is(TagClass::Universal, kTagSequence, true)) return false;
    DerReader fields(element.content, element.length);
    if (!fields.Next(&out->type) || !IsValidObjectIdentifier(out->type)) return false;
    if (!fields.Next(&out->values) || !out->values.Is(TagClass::Universal, kTagSet, true))
        return false;
    if (!fields.AtEnd()) return false;
    // Every value must be a well-formed element.
    DerReader values(out->values.content, out->values.length);
    DerElement value;
    while (values.Next(&value)) {
    }
    return !values.failed();
}

}  // namespace

bool FindMessageDigest(const uint8_t* data, size_t size, std::vector<uint8_t>* digest) {
    DerElement set;
    if (!ReadSingle(data, size, &set) || !set.Is(TagClass::Universal, kTagSet, true)) return false;
    // The whole list must decode before any of it is used.
    std::vector<Attribute> attributes;
    DerReader reader(set.content, set.length);
    DerElement element;
    while (reader.Next(&element)) {
        Attribute attribute;
        if (!DecodeAttribute(element, &attribute)) return false;
        attributes.push_back(attribute);
    }
    if (reader.failed()) return false;
    for (const Attribute& a : attributes) {
        if (a.type.length != sizeof kMessageDigestOid ||
            memcmp(a.type.content, kMessageDigestOid, sizeof kMessageDigestOid) != 0)
            continue;
        DerReader values(a.values.content, a.values.length);
        DerElement first;
        if (!values.Next(&first)) continue;
        if (!first.Is(TagClass::Universal, kTagOctetString, false)) continue;
        digest->assign(first.content, first.content + first.length);
        return true;
    }
    return false;
}

}  // namespace asn1
