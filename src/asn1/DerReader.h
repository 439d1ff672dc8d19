#pragma once
#include <cstddef>
#include <cstdint>

namespace asn1 {

enum class TagClass : uint8_t { Universal = 0, Application = 1, ContextSpecific = 2, Private = 3 };

// One DER element: identifier, and where its contents and whole encoding lie
// in the input.
struct DerElement {
    TagClass tagClass = TagClass::Universal;
    bool constructed = false;
    uint32_t tagNumber = 0;
    const uint8_t* content = nullptr;
    size_t length = 0;
    const uint8_t* encoded = nullptr;
    size_t encodedLength = 0;

    bool Is(TagClass c, uint32_t number, bool isConstructed) const {
        return tagClass == c && tagNumber == number && constructed == isConstructed;
    }
};

// Universal tag numbers used here.
constexpr uint32_t kTagOctetString = 4;
constexpr uint32_t kTagObjectIdentifier = 6;
constexpr uint32_t kTagSequence = 16;
constexpr uint32_t kTagSet = 17;

// Walks the elements that follow each other in a buffer, rejecting anything
// that is not DER: indefinite lengths, lengths not in their shortest form or
// running past the buffer, tag numbers not in their shortest form.
class DerReader {
  public:
    DerReader(const uint8_t* data, size_t size) : p_(data), left_(data ? size : 0) {}
    // The next element; false at the end or on malformed input (then
    // failed() is true and the reader stays failed).
    bool Next(DerElement* element);
    bool AtEnd() const { return left_ == 0 && !failed_; }
    bool failed() const { return failed_; }

  private:
    bool Fail() {
        failed_ = true;
        return false;
    }

    const uint8_t* p_;
    size_t left_;
    bool failed_ = false;
};

// Exactly one element filling the whole buffer.
bool ReadSingle(const uint8_t* data, size_t size, DerElement* element);

// The contents of an OBJECT IDENTIFIER are well formed (non-empty, every
// sub-identifier in its shortest form and complete).
bool IsValidObjectIdentifier(const DerElement& element);

}  // namespace asn1
