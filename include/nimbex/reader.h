/* The reader interface of libnimbex: the one entry point, its function table
 * and the record of every function whose record has a fixed layout.
 *
 * How a record is read:
 *
 * - A record is an array of machine words (uintptr_t); pointers and numbers
 *   alike take one word, 32-bit numbers are zero-extended. Words are counted
 *   from 1: "word 1" is the first.
 * - A numeric field addressed by a byte offset ("byte k of the record", k
 *   counted from 1) is byte (k-1) mod 4 of word (k-1)/4 + 1, where byte j of
 *   a word is bits 8j to 8j+7 of its value: byte offsets count 32-bit words,
 *   whatever the width of a word. Byte 5 is the low byte of word 2; the field
 *   at byte offset 228 is word 58.
 * - That rule is for numbers only. A string (or other bytes) that a handler
 *   copies into a record is a byte buffer at the start of the record, or of
 *   the field it goes into, its bytes in order as memcpy puts them: the 6
 *   bytes of get_reader_name are the first 6 bytes of the record's memory.
 *
 * The names of fields whose meaning belongs to the CSP (limits, constants it
 * asks for) are this module's reading; the module writes the documented
 * values. Words a handler neither reads nor writes are named unusedN. */
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

/* lock_reader, unlock_reader and drop_auth are called with a third argument
 * word, which they pass through to what they call; nothing in the module
 * reads it. The table holds them as CloudReaderHandler; this is the form the
 * CSP calls them in. */
typedef uintptr_t CloudPassThroughWord;
typedef uintptr_t (*CloudReaderPassThroughHandler)(void* context, void* record,
                                                   CloudPassThroughWord word);

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

/* get_reader_name, get_reader_type: "CLOUD" and its terminating zero, 6
 * bytes, copied to the start of the record (a byte buffer, not a number);
 * nothing past them is written. The struct rounds the 6 bytes up to whole
 * words. */
#define CLOUD_READER_NAME_SIZE 6
typedef struct CloudReaderNameRecord {
    char name[8];
} CloudReaderNameRecord;

/* ---- Reader context, service selection and the cloud lock -------------- */

/* create_context, clone_context: word 1 receives the new context. */
typedef struct CloudContextRecord {
    void* context;
} CloudContextRecord;

/* The caller's seven context words. set_callbacks and lock_reader store them;
 * every callback receives them again as its first seven arguments. Word 5
 * bit 6 asks for no user interaction; a non-zero word 7 says that the caller
 * keeps a local context (tokens then go to its protected store). */
typedef struct CloudCallerContext {
    uintptr_t words[7];
} CloudCallerContext;
#define CLOUD_CALLER_SILENT_WORD 4    /* index into words */
#define CLOUD_CALLER_SILENT_BIT 0x40u /* in that word */
#define CLOUD_CALLER_LOCAL_WORD 6     /* non-zero: local context */

/* lock_reader: the caller context (a null record takes nothing). */
typedef CloudCallerContext CloudLockRecord;

/* The record of a PIN request (callback word 4): length in bytes, set by the
 * caller; buffer, null on the first call, which asks for the length. */
typedef struct CloudPinRequest {
    uintptr_t length;
    char* buffer;
} CloudPinRequest;
#define CLOUD_PIN_REQUEST_KIND 0x30
#define CLOUD_PIN_NOT_AVAILABLE 2 /* answer of a PIN callback without a PIN */

/* The caller's callbacks. Each takes the seven caller-context words first.
 * Numbers passed by value are words; lengths passed by pointer are 32-bit. */
#define CLOUD_CALLER_ARGS \
    uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t
typedef uint32_t (*CloudPinCallback)(CLOUD_CALLER_ARGS, uintptr_t kind, CloudPinRequest* request);
/* Digest of data with a CryptoAPI algorithm id, in its natural byte order;
 * *length: capacity in, digest length out; a null out asks for the length. */
typedef uint32_t (*CloudHashCallback)(CLOUD_CALLER_ARGS, uintptr_t algId, const unsigned char* data,
                                      uintptr_t dataLength, unsigned char* out, uint32_t* length);
/* HMAC (algorithm 0x8021) of data keyed with key; *length: capacity in (32). */
typedef uint32_t (*CloudHmacCallback)(CLOUD_CALLER_ARGS, uintptr_t algId, const unsigned char* key,
                                      uintptr_t keyLength, const unsigned char* data,
                                      uintptr_t dataLength, unsigned char* out, uint32_t* length);
typedef uint32_t (*CloudRandomCallback)(CLOUD_CALLER_ARGS, unsigned char* out, uintptr_t length);
/* The protected store: create answers a handle (0: failure); set, get and
 * delete address a value by name in the user's (machine 0) or the machine's
 * (machine 1) scope; get with a null buffer asks for the length. */
typedef uintptr_t (*CloudStoreCreateCallback)(CLOUD_CALLER_ARGS);
typedef uint32_t (*CloudStoreReleaseCallback)(CLOUD_CALLER_ARGS, uintptr_t store);
typedef uint32_t (*CloudStoreSetCallback)(CLOUD_CALLER_ARGS, uintptr_t store, uintptr_t machine,
                                          const char* name, const unsigned char* value,
                                          uintptr_t length);
typedef uint32_t (*CloudStoreGetCallback)(CLOUD_CALLER_ARGS, uintptr_t store, uintptr_t machine,
                                          const char* name, unsigned char* buffer,
                                          uint32_t* length);
typedef uint32_t (*CloudStoreDeleteCallback)(CLOUD_CALLER_ARGS, uintptr_t store, uintptr_t machine,
                                             const char* name);
#undef CLOUD_CALLER_ARGS

/* The 14-word callback table; any entry may be null. The protected store is
 * used only when words 9 to 13 are all present. */
typedef struct CloudCallbackTable {
    uintptr_t reserved1;                    /* word 1 */
    uintptr_t reserved2;                    /* word 2 */
    uintptr_t reserved3;                    /* word 3 */
    CloudPinCallback pinRequest;            /* word 4 */
    uintptr_t reserved5;                    /* word 5 */
    CloudHashCallback hash;                 /* word 6 */
    CloudHmacCallback hmac;                 /* word 7 */
    CloudRandomCallback random;             /* word 8 */
    CloudStoreCreateCallback storeCreate;   /* word 9 */
    CloudStoreReleaseCallback storeRelease; /* word 10 */
    CloudStoreSetCallback storeSet;         /* word 11 */
    CloudStoreGetCallback storeGet;         /* word 12 */
    CloudStoreDeleteCallback storeDelete;   /* word 13 */
    uintptr_t reserved14;                   /* word 14 */
} CloudCallbackTable;

/* set_callbacks: words 1-7 the caller context, words 8-21 the table. */
typedef struct CloudCallbacksRecord {
    CloudCallerContext caller;
    CloudCallbackTable callbacks;
} CloudCallbacksRecord;

/* set_machine_flag: bit 0 selects the machine's stores instead of the user's. */
typedef struct CloudMachineFlagRecord {
    uintptr_t flags;
} CloudMachineFlagRecord;

/* count_services: the number of configured services into word 3. */
typedef struct CloudCountServicesRecord {
    uintptr_t reserved[2];
    uintptr_t count;
} CloudCountServicesRecord;

/* select_service: the index into the list of configured services. */
typedef struct CloudSelectServiceRecord {
    uintptr_t index;
} CloudSelectServiceRecord;

/* set_default_container: at most `length` bytes of `name` (get_service_name
 * and get_default_container take a CloudSizeBufferRecord). */
typedef struct CloudDefaultContainerRecord {
    uintptr_t length;
    const char* name;
} CloudDefaultContainerRecord;

/* get_media_info: a sub-code and its value word. Sub-codes 3 and 6 change
 * flag bits in the two low bytes of `value`; 7 takes a version in `value`
 * ((value & 0xF0) == 0x30) and answers 0 when no PIN is needed. */
typedef struct CloudMediaInfoRecord {
    uintptr_t subCode;
    uintptr_t value;
} CloudMediaInfoRecord;
enum CloudMediaInfoSubCode {
    CLOUD_MEDIA_INFO_CAPABILITIES = 3,
    CLOUD_MEDIA_INFO_KIND = 5,
    CLOUD_MEDIA_INFO_FLAGS = 6,
    CLOUD_MEDIA_INFO_PIN_NEEDED = 7
};
#define CLOUD_MEDIA_CAN_CREATE_KEYS 0x02u /* sub-code 3: bit 1 of the low byte */

/* set_media_param: a sub-code, a length or a value, and the data. Every
 * sub-code needs an open container. */
typedef struct CloudMediaParamRecord {
    uintptr_t subCode;
    uintptr_t value;
    const void* data;
} CloudMediaParamRecord;
enum CloudMediaParamSubCode {
    CLOUD_PARAM_AUTH_SERVER = 9,     /* text: the container's auth server */
    CLOUD_PARAM_SIGN_SERVER = 10,    /* text: the container's sign server */
    CLOUD_PARAM_USER_NAME = 11,      /* value bytes of text, saved for the service */
    CLOUD_PARAM_PASSWORD = 12,       /* likewise */
    CLOUD_PARAM_ACCESS_TOKEN = 13,   /* value bytes of text, handed to the connection */
    CLOUD_PARAM_ID_TOKEN = 14,       /* likewise */
    CLOUD_PARAM_CERTIFICATE = 15,    /* value bytes of DER */
    CLOUD_PARAM_CERTIFICATE_ID = 16, /* value */
    CLOUD_PARAM_EXTENSIONS = 21,     /* value bytes */
    CLOUD_PARAM_KEY_PERMISSIONS = 22 /* value */
};

/* open_container_enum (size, open and enumerator out: 4096, 4 and the
 * enumerator), next_container (size = capacity in / name length out, buffer,
 * enumerator) and close_container_enum (open non-zero: the enumerator is
 * destroyed and open and enumerator cleared). */
typedef struct CloudContainerEnumRecord {
    uintptr_t unused1;
    uintptr_t size;
    char* buffer;
    uintptr_t open;
    void* enumerator;
} CloudContainerEnumRecord;

/* open_container: the name (nameLength bytes; a null name closes the open
 * container) and the flags, bit 2 asking to create it. */
#define CLOUD_OPEN_CONTAINER_CREATE 0x4
typedef struct CloudOpenContainerRecord {
    uintptr_t nameLength;
    const char* name;
    uintptr_t unused3;
    uintptr_t flags;
} CloudOpenContainerRecord;

/* open_file: size must exceed 7, words 3 and 4 must be non-zero; flags bit 0
 * opens an existing file for reading. Kinds: 8 the exchange key's
 * certificate, 9 the signature key's, 10 the container extensions. */
#define CLOUD_OPEN_FILE_READ 0x1
#define CLOUD_FILE_EXCHANGE_CERTIFICATE 8
#define CLOUD_FILE_SIGNATURE_CERTIFICATE 9
#define CLOUD_FILE_EXTENSIONS 10
typedef struct CloudOpenFileRecord {
    uintptr_t size;
    uintptr_t flags;
    uintptr_t required3;
    uintptr_t required4;
    uintptr_t kind;
} CloudOpenFileRecord;

/* read_file: length bytes from offset into buffer (fewer at the end of the
 * file); length is 0 on return. */
typedef struct CloudReadFileRecord {
    uintptr_t offset;
    uintptr_t length;
    unsigned char* buffer;
} CloudReadFileRecord;

/* write_file: length bytes of data. */
typedef struct CloudWriteFileRecord {
    uintptr_t unused1;
    uintptr_t length;
    const unsigned char* data;
} CloudWriteFileRecord;

/* get_file_size: the size of the open file (out). */
typedef struct CloudFileSizeRecord {
    uintptr_t size;
} CloudFileSizeRecord;

/* get_key_info: keySpec must be the container's; mustBeZero must be 0.
 * Out: keySpec, keyType (2), algorithm (0xAA24) and, when flags has bit 5
 * (0x20) and they are not 0, the key permissions. */
#define CLOUD_KEY_INFO_PERMISSIONS 0x20
typedef struct CloudKeyInfoRecord {
    uintptr_t keySpec;
    uintptr_t flags;
    uintptr_t mustBeZero;
    uintptr_t keyType;
    uintptr_t algorithm;
    uintptr_t unused6;
    uintptr_t unused7;
    uintptr_t permissions;
} CloudKeyInfoRecord;

/* verify_pin: at most 64 bytes of PIN; triesLeft (out) after a wrong PIN
 * when the service reports a count. */
typedef struct CloudVerifyPinRecord {
    uintptr_t unused1;
    uintptr_t pinLength;
    const char* pin;
    uintptr_t triesLeft;
} CloudVerifyPinRecord;

/* change_pin: (version & 0xF0) must be 0x30; the new PIN, at most 64 bytes. */
typedef struct CloudChangePinRecord {
    uintptr_t version;
    uintptr_t pinLength;
    const char* pin;
} CloudChangePinRecord;

/* create_hash: algorithm id in, the new hash handle out. */
typedef struct CloudCreateHashRecord {
    uintptr_t algorithm;
    uintptr_t handle;
} CloudCreateHashRecord;

/* hash_data: length bytes of data appended; written = length on success. */
typedef struct CloudHashDataRecord {
    uintptr_t handle;
    uintptr_t length;
    const unsigned char* data;
    uintptr_t written;
} CloudHashDataRecord;

/* get_hash_value: words 2 to 17 hold the value, a byte buffer of at most 64
 * bytes at the start of those words; valueLength is the capacity in and the
 * length out. */
#define CLOUD_HASH_VALUE_SIZE 64
typedef struct CloudHashValueRecord {
    uintptr_t handle;
    union {
        unsigned char bytes[CLOUD_HASH_VALUE_SIZE];
        uintptr_t words[16];
    } value;
    uintptr_t valueLength;
} CloudHashValueRecord;

/* sign_hash: the hash (hashLength bytes, or lengthOverride when that is not
 * 0), the signature buffer and its length (in: capacity, out: length), the
 * document-hash handle and the hash algorithm identifier. */
typedef struct CloudSignHashRecord {
    uintptr_t unused1;
    const unsigned char* hash;
    uintptr_t hashLength;
    uintptr_t lengthOverride;
    unsigned char* signature;
    uintptr_t signatureLength;
    uintptr_t hashHandle;
    uintptr_t unused8;
    uintptr_t algorithm;
} CloudSignHashRecord;

/* sign_hash_split: the signature's two halves, each reversed, with their
 * lengths (out). */
typedef struct CloudSignHashSplitRecord {
    uintptr_t unused1;
    const unsigned char* hash;
    uintptr_t hashLength;
    unsigned char* firstHalf;
    uintptr_t firstLength;
    unsigned char* secondHalf;
    uintptr_t secondLength;
    uintptr_t hashHandle;
} CloudSignHashSplitRecord;

/* agree_key: the peer key's two coordinates (coordinateLength bytes each, in
 * 64-byte slots), the user keying material, the mask, and the result buffer
 * with its length (in: capacity, 64 choosing the 512-bit algorithm; out:
 * length). */
typedef struct CloudAgreeKeyRecord {
    uintptr_t unused1;
    const unsigned char* peerKey;
    uintptr_t coordinateLength;
    const unsigned char* ukm;
    uintptr_t ukmLength;
    const unsigned char* mask;
    uintptr_t maskLength;
    unsigned char* result;
    uintptr_t resultLength;
} CloudAgreeKeyRecord;

/* generate_key: KeySpec, algorithm id, parameter-set OID text and key
 * permissions. */
typedef struct CloudGenerateKeyRecord {
    uintptr_t unused1, unused2, unused3, unused4;
    uintptr_t keySpec;
    uintptr_t algorithm;
    uintptr_t unused7;
    const char* paramSet;
    uintptr_t unused9, unused10;
    uintptr_t permissions;
} CloudGenerateKeyRecord;

/* generate_rsa_key: key length in bytes, KeySpec, algorithm id (0x2400 asks
 * for the signature parameter set) and key permissions. */
typedef struct CloudGenerateRsaKeyRecord {
    uintptr_t keyLength;
    uintptr_t unused2, unused3, unused4;
    uintptr_t keySpec;
    uintptr_t algorithm;
    uintptr_t unused7, unused8, unused9;
    uintptr_t permissions;
} CloudGenerateRsaKeyRecord;

/* list_param_sets: each OID followed by a zero byte, then one more zero byte.
 * size in = capacity, out = total without the last zero; the capacity must
 * hold total + 1. A null buffer asks for the total. */
typedef struct CloudMultiStringRecord {
    uintptr_t size;
    char* buffer;
} CloudMultiStringRecord;

/* get_rsa_key_range: 496, 8192 and 0 when the service supports RSA. */
typedef struct CloudRsaKeyRangeRecord {
    uintptr_t minimum;
    uintptr_t maximum;
    uintptr_t reserved;
} CloudRsaKeyRangeRecord;

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
NIMBEX_RECORD_ASSERT(sizeof(CloudReaderNameRecord) % sizeof(uintptr_t) == 0 &&
                         sizeof(CloudReaderNameRecord) >= CLOUD_READER_NAME_SIZE,
                     "whole words holding the 6 bytes");
NIMBEX_RECORD_ASSERT(sizeof(CloudContextRecord) == sizeof(uintptr_t), "one word");
NIMBEX_RECORD_ASSERT(sizeof(CloudCallerContext) == 7 * sizeof(uintptr_t), "seven words");
NIMBEX_RECORD_ASSERT(sizeof(CloudPinRequest) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudCallbackTable) == 14 * sizeof(uintptr_t), "14 words");
NIMBEX_RECORD_ASSERT(offsetof(CloudCallbackTable, pinRequest) == 3 * sizeof(uintptr_t), "word 4");
NIMBEX_RECORD_ASSERT(offsetof(CloudCallbackTable, hash) == 5 * sizeof(uintptr_t), "word 6");
NIMBEX_RECORD_ASSERT(offsetof(CloudCallbackTable, storeCreate) == 8 * sizeof(uintptr_t), "word 9");
NIMBEX_RECORD_ASSERT(offsetof(CloudCallbackTable, storeDelete) == 12 * sizeof(uintptr_t),
                     "word 13");
NIMBEX_RECORD_ASSERT(sizeof(CloudCallbacksRecord) == 21 * sizeof(uintptr_t), "21 words");
NIMBEX_RECORD_ASSERT(sizeof(CloudMachineFlagRecord) == sizeof(uintptr_t), "one word");
NIMBEX_RECORD_ASSERT(sizeof(CloudCountServicesRecord) == 3 * sizeof(uintptr_t), "three words");
NIMBEX_RECORD_ASSERT(sizeof(CloudSelectServiceRecord) == sizeof(uintptr_t), "one word");
NIMBEX_RECORD_ASSERT(sizeof(CloudDefaultContainerRecord) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudMediaInfoRecord) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudMediaParamRecord) == 3 * sizeof(uintptr_t), "three words");
NIMBEX_RECORD_ASSERT(sizeof(CloudContainerEnumRecord) == 5 * sizeof(uintptr_t), "five words");
NIMBEX_RECORD_ASSERT(sizeof(CloudOpenContainerRecord) == 4 * sizeof(uintptr_t), "four words");
NIMBEX_RECORD_ASSERT(sizeof(CloudOpenFileRecord) == 5 * sizeof(uintptr_t), "five words");
NIMBEX_RECORD_ASSERT(sizeof(CloudReadFileRecord) == 3 * sizeof(uintptr_t), "three words");
NIMBEX_RECORD_ASSERT(sizeof(CloudWriteFileRecord) == 3 * sizeof(uintptr_t), "three words");
NIMBEX_RECORD_ASSERT(sizeof(CloudFileSizeRecord) == sizeof(uintptr_t), "one word");
NIMBEX_RECORD_ASSERT(sizeof(CloudKeyInfoRecord) == 8 * sizeof(uintptr_t), "eight words");
NIMBEX_RECORD_ASSERT(sizeof(CloudVerifyPinRecord) == 4 * sizeof(uintptr_t), "four words");
NIMBEX_RECORD_ASSERT(sizeof(CloudChangePinRecord) == 3 * sizeof(uintptr_t), "three words");
NIMBEX_RECORD_ASSERT(sizeof(CloudCreateHashRecord) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudHashDataRecord) == 4 * sizeof(uintptr_t), "four words");
NIMBEX_RECORD_ASSERT(sizeof(CloudHashValueRecord) == 18 * sizeof(uintptr_t), "18 words");
NIMBEX_RECORD_ASSERT(offsetof(CloudHashValueRecord, valueLength) == 17 * sizeof(uintptr_t),
                     "word 18");
NIMBEX_RECORD_ASSERT(sizeof(CloudSignHashRecord) == 9 * sizeof(uintptr_t), "nine words");
NIMBEX_RECORD_ASSERT(sizeof(CloudSignHashSplitRecord) == 8 * sizeof(uintptr_t), "eight words");
NIMBEX_RECORD_ASSERT(sizeof(CloudAgreeKeyRecord) == 9 * sizeof(uintptr_t), "nine words");
NIMBEX_RECORD_ASSERT(sizeof(CloudGenerateKeyRecord) == 11 * sizeof(uintptr_t), "11 words");
NIMBEX_RECORD_ASSERT(offsetof(CloudGenerateKeyRecord, paramSet) == 7 * sizeof(uintptr_t), "word 8");
NIMBEX_RECORD_ASSERT(sizeof(CloudGenerateRsaKeyRecord) == 10 * sizeof(uintptr_t), "ten words");
NIMBEX_RECORD_ASSERT(sizeof(CloudMultiStringRecord) == 2 * sizeof(uintptr_t), "two words");
NIMBEX_RECORD_ASSERT(sizeof(CloudRsaKeyRangeRecord) == 3 * sizeof(uintptr_t), "three words");
#undef NIMBEX_RECORD_ASSERT
#endif

#endif
