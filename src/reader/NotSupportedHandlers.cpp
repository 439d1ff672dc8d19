// Reader functions that this build does not provide yet. Each answers
// "not supported" (0x80090029); a handler moves out of this file when its
// implementation lands. The null-pointer answer that the reader interface
// fixes regardless of the implementation is kept: close_file accepts a null
// context with 0.
#include "base/ErrorCodes.h"
#include "reader/ReaderHandlers.h"

namespace cloud_reader {

#define NIMBEX_NOT_SUPPORTED(name)   \
    uintptr_t name(void*, void*) {   \
        return codes::kNotSupported; \
    }

NIMBEX_NOT_SUPPORTED(open_container_enum)
NIMBEX_NOT_SUPPORTED(next_container)
NIMBEX_NOT_SUPPORTED(close_container_enum)
NIMBEX_NOT_SUPPORTED(delete_container)
NIMBEX_NOT_SUPPORTED(open_file)
NIMBEX_NOT_SUPPORTED(read_file)
NIMBEX_NOT_SUPPORTED(write_file)
NIMBEX_NOT_SUPPORTED(get_file_size)
NIMBEX_NOT_SUPPORTED(get_key_info)

#undef NIMBEX_NOT_SUPPORTED

uintptr_t close_file(void* context, void*) {
    return context ? codes::kNotSupported : codes::kSuccess;
}

}  // namespace cloud_reader
