/* The reader interface of libnimbex: the one entry point, its function table
 * and the records of the constant queries.
 *
 * A record is an array of machine words (uintptr_t); pointers and numbers
 * alike take one word, 32-bit numbers are zero-extended. */
#ifndef NIMBEX_READER_H
#define NIMBEX_READER_H

#include <nimbex/export.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every handler: result = handler(reader context, argument record). */
typedef uintptr_t (*CloudReaderHandler)(void* context, void* record);

typedef struct CloudReaderFunction {
    uintptr_t id;
    CloudReaderHandler handler;
} CloudReaderFunction;

typedef struct CloudReaderTable {
    uintptr_t count;                      /* 53 */
    const CloudReaderFunction* functions; /* sorted by ascending id */
    const wchar_t* firstName;             /* L"UNDEFINED" */
    const wchar_t* secondName;            /* the same string */
    uintptr_t reserved[4];                /* 0 */
} CloudReaderTable;

/* The function ids. */
enum CloudReaderFunctionId {
    CLOUD_GET_READER_NAME = 0x1,
    CLOUD_GET_MEDIA_NAME = 0x2,
    CLOUD_CLONE_CONTEXT = 0x6,
    CLOUD_FREE_CONTEXT = 0x7,
    CLOUD_GET_FEATURE_BITS = 0xC,
    CLOUD_GET_INTERFACE_VERSION = 0x12,
    CLOUD_GET_READER_TYPE = 0x305,
    CLOUD_CREATE_CONTEXT = 0x1000,
    CLOUD_FREE_CONTEXT_2 = 0x1001,
    CLOUD_LOCK_READER = 0x2301,
    CLOUD_UNLOCK_READER = 0x2302,
    CLOUD_COUNT_SERVICES = 0x2303,
    CLOUD_SET_MACHINE_FLAG = 0x2306,
    CLOUD_GET_MEDIA_INFO = 0x2307,
    CLOUD_SET_MEDIA_PARAM = 0x2308,
    CLOUD_GET_MEDIA_LIMITS = 0x2309,
    CLOUD_SELECT_SERVICE = 0x230A,
    CLOUD_NEGOTIATE_VERSION = 0x230B,
    CLOUD_SET_CALLBACKS = 0x230C,
    CLOUD_GET_DESCRIPTION = 0x2310,
    CLOUD_GET_MAX_VALUE = 0x2311,
    CLOUD_GET_SERVICE_NAME = 0x3300,
    CLOUD_OPEN_CONTAINER_ENUM = 0x3302,
    CLOUD_NEXT_CONTAINER = 0x3303,
    CLOUD_CLOSE_CONTAINER_ENUM = 0x3304,
    CLOUD_OPEN_CONTAINER = 0x3305,
    CLOUD_CLOSE_CONTAINER = 0x3306,
    CLOUD_GET_DEFAULT_CONTAINER = 0x3311,
    CLOUD_SET_DEFAULT_CONTAINER = 0x3312,
    CLOUD_LIST_PARAM_SETS = 0x3315,
    CLOUD_DROP_AUTH = 0x5302,
    CLOUD_CREATE_HASH = 0x5308,
    CLOUD_HASH_DATA = 0x5309,
    CLOUD_GET_HASH_VALUE = 0x530A,
    CLOUD_RELEASE_HASH = 0x530B,
    CLOUD_VERIFY_PIN = 0x530C,
    CLOUD_DELETE_CONTAINER = 0x6300,
    CLOUD_OPEN_FILE = 0x6302,
    CLOUD_CLOSE_FILE = 0x6303,
    CLOUD_FLUSH_FILE = 0x6304,
    CLOUD_CHANGE_PIN = 0x630B,
    CLOUD_READ_FILE = 0x7300,
    CLOUD_WRITE_FILE = 0x7301,
    CLOUD_SET_FILE_SIZE = 0x7302,
    CLOUD_GET_FILE_SIZE = 0x7303,
    CLOUD_GENERATE_KEY = 0x7304,
    CLOUD_SIGN_HASH_SPLIT = 0x7307,
    CLOUD_AGREE_KEY = 0x730C,
    CLOUD_GET_KEY_INFO = 0x730D,
    CLOUD_RELEASE_KEY = 0x730E,
    CLOUD_GENERATE_RSA_KEY = 0x7311,
    CLOUD_SIGN_HASH = 0x7312,
    CLOUD_GET_RSA_KEY_RANGE = 0x7314
};

#define CLOUD_READER_FUNCTION_COUNT 53
#define CLOUD_RECORD_VERSION 0x30

/* Text results (get_media_name, get_description, ...): size in = capacity in
 * bytes including the terminating zero, size out = length without it. A null
 * buffer or a zero size asks for the length; too small a capacity answers 234
 * with the length written back. */
typedef struct CloudSizeBufferRecord {
    uintptr_t size;
    char* buffer;
} CloudSizeBufferRecord;

/* get_feature_bits: bits in = capacity in bits, out = bit count. */
typedef struct CloudFeatureBitsRecord {
    uintptr_t selector;
    uintptr_t bits;
    unsigned char* buffer;
} CloudFeatureBitsRecord;

/* get_interface_version: 3, 0, 0, 0. */
typedef struct CloudInterfaceVersionRecord {
    uintptr_t version;
    uintptr_t reserved[3];
} CloudInterfaceVersionRecord;

/* get_media_limits: version must be exactly 0x30. The four limits sit at
 * byte offsets 228, 232, 236 and 240 of the CSP's record, words 58 to 61. */
typedef struct CloudMediaLimitsRecord {
    uintptr_t version;       /* word 1 */
    uintptr_t unused[56];    /* words 2..57, left as they are */
    uintptr_t maxNameLength; /* word 58: 255 */
    uintptr_t maxPinLength;  /* word 59: 64 */
    uintptr_t minPinLength;  /* word 60: 0 */
    uintptr_t pinRequired;   /* word 61: 1 */
} CloudMediaLimitsRecord;

/* negotiate_version: (version & 0xF0) must be 0x30; answered with 0x32. */
typedef struct CloudNegotiateRecord {
    uintptr_t version;
} CloudNegotiateRecord;

/* get_max_value: 65535. */
typedef struct CloudMaxValueRecord {
    uintptr_t value;
} CloudMaxValueRecord;

/* Returns the one function table; the same address on every call. */
NIMBEX_EXPORT const CloudReaderTable* cloud_reader_get_table(void);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus)
#define NIMBEX_RECORD_ASSERT static_assert
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define NIMBEX_RECORD_ASSERT _Static_assert
#endif

#ifdef NIMBEX_RECORD_ASSERT

NIMBEX_RECORD_ASSERT(sizeof(CloudReaderFunction) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudReaderTable) == 8 * sizeof(uintptr_t), "eight words");
NIMBEX_RECORD_ASSERT(sizeof(CloudSizeBufferRecord) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudFeatureBitsRecord) == 3 * sizeof(uintptr_t), "three words");
NIMBEX_RECORD_ASSERT(sizeof(CloudInterfaceVersionRecord) == 4 * sizeof(uintptr_t), "four words");
NIMBEX_RECORD_ASSERT(sizeof(CloudMediaLimitsRecord) == 61 * sizeof(uintptr_t), "61 words");
NIMBEX_RECORD_ASSERT(offsetof(CloudMediaLimitsRecord, maxNameLength) == 57 * sizeof(uintptr_t),
                     "word 58");
NIMBEX_RECORD_ASSERT(sizeof(CloudNegotiateRecord) == sizeof(uintptr_t), "one word");
NIMBEX_RECORD_ASSERT(sizeof(CloudMaxValueRecord) == sizeof(uintptr_t), "one word");
#undef NIMBEX_RECORD_ASSERT
#endif

#endif
