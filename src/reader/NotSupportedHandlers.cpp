// Reader functions that this build does not provide yet. Each answers
// "not supported" (0x80090029); a handler moves out of this file when its
// implementation lands.
#include "base/ErrorCodes.h"
#include "reader/ReaderHandlers.h"

namespace cloud_reader {

#define NIMBEX_NOT_SUPPORTED(name)   \
    uintptr_t name(void*, void*) {   \
        return codes::kNotSupported; \
    }

NIMBEX_NOT_SUPPORTED(drop_auth)
NIMBEX_NOT_SUPPORTED(create_hash)
NIMBEX_NOT_SUPPORTED(hash_data)
NIMBEX_NOT_SUPPORTED(get_hash_value)
NIMBEX_NOT_SUPPORTED(verify_pin)
NIMBEX_NOT_SUPPORTED(change_pin)
NIMBEX_NOT_SUPPORTED(sign_hash_split)
NIMBEX_NOT_SUPPORTED(agree_key)
NIMBEX_NOT_SUPPORTED(sign_hash)
NIMBEX_NOT_SUPPORTED(list_param_sets)
NIMBEX_NOT_SUPPORTED(generate_key)
NIMBEX_NOT_SUPPORTED(generate_rsa_key)
NIMBEX_NOT_SUPPORTED(get_rsa_key_range)

#undef NIMBEX_NOT_SUPPORTED

}  // namespace cloud_reader
