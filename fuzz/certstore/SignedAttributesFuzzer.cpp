// Arbitrary bytes as the data of a hash record: the signed-attributes decoder
// and the TLS content check behind FindLinkedRecords.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn1/SignedAttributes.h"
#include "reader/DocumentHashStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> digest;
    asn1::FindMessageDigest(data, size, &digest);

    // The digest found (or the input's tail) as another record's value.
    HashStorage::DocumentHashStorage store(1u << 20, 5);
    const uint32_t document = store.CreateRecord(HashStorage::DocumentHashStorage::kDataIsValue);
    if (!digest.empty()) {
        store.AddData(document, digest.data(), digest.size());
    } else if (size > 98) {
        store.AddData(document, data + 98, size - 98);
    }
    const uint32_t attributes = store.CreateRecord(0x800C);
    store.AddData(attributes, data, size);
    const unsigned char value[] = {1, 2, 3};
    store.SetHashValue(attributes, value, sizeof value);
    uint32_t first = 0, second = 1;
    store.FindLinkedRecords(value, sizeof value, &first, &second);
    // The document record may itself hold the value; nothing else can.
    if (first != attributes && first != document) __builtin_trap();
    return 0;
}
