#include "asn1/DerReader.h"

namespace asn1 {

bool DerReader::Next(DerElement* element) {
    if (failed_ || left_ == 0) return false;
    const uint8_t* start = p_;
    size_t pos = 0;
    const uint8_t first = p_[pos++];
    DerElement e;
    e.tagClass = static_cast<TagClass>(first >> 6);
    e.constructed = (first & 0x20) != 0;
    e.tagNumber = first & 0x1F;
    if (e.tagNumber == 0x1F) {
        // High tag number: base-128, shortest form, above 30.
        uint32_t number = 0;
        for (;;) {
            if (pos >= left_) return Fail();
            const uint8_t b = p_[pos++];
            if (number == 0 && b == 0x80) return Fail();
            if (number > (0xFFFFFFFFu >> 7)) return Fail();
            number = (number << 7) | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        if (number < 0x1F) return Fail();
        e.tagNumber = number;
    }
    if (pos >= left_) return Fail();
    size_t length = p_[pos++];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        // 0x80 is the indefinite form, which DER forbids.
        if (count == 0 || count > sizeof(uint32_t) || left_ - pos < count) return Fail();
        if (p_[pos] == 0) return Fail();
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | p_[pos++];
        if (length < 0x80) return Fail();
    }
    if (length > left_ - pos) return Fail();
    e.content = start + pos;
    e.length = length;
    e.encoded = start;
    e.encodedLength = pos + length;
    p_ += e.encodedLength;
    left_ -= e.encodedLength;
    *element = e;
    return true;
}

bool ReadSingle(const uint8_t* data, size_t size, DerElement* element) {
    DerReader reader(data, size);
    return reader.Next(element) && reader.AtEnd();
}

bool IsValidObjectIdentifier(const DerElement& element) {
    if (!element.Is(TagClass::Universal, kTagObjectIdentifier, false) || element.length == 0)
        return false;
    bool startOfSubidentifier = true;
    for (size_t i = 0; i < element.length; ++i) {
        const uint8_t b = element.content[i];
        if (startOfSubidentifier && b == 0x80) return false;
        startOfSubidentifier = (b & 0x80) == 0;
    }
    return startOfSubidentifier;
}

}  // namespace asn1
