#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace asn1 {

// Decodes CMS signed attributes in their SET form (SET OF Attribute, where
// Attribute ::= SEQUENCE { attrType OBJECT IDENTIFIER, attrValues SET OF
// ANY }) and finds the message digest (1.2.840.113549.1.9.4): for each such
// attribute in order, its first value decoded as an OCTET STRING; the first
// that decodes wins. False, with `digest` untouched, when the input is not
// exactly that structure in DER or holds no such digest.
bool FindMessageDigest(const uint8_t* data, size_t size, std::vector<uint8_t>* digest);

}  // namespace asn1
