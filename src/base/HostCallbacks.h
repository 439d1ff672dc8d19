#pragma once
#include <cstddef>
#include <cstdint>

// The CSP's side of the reader: the seven caller-context words it hands to
// lock_reader / set_callbacks, and the table of 14 callbacks set by
// set_callbacks. Every callback receives the seven caller-context words first,
// as seven word-sized arguments, followed by its own arguments. Numbers given
// by value travel as words (32-bit values zero-extended); lengths returned
// through a pointer are 32-bit. Results are 32-bit codes, 0 for success.

struct CallerContext {
    uintptr_t words[7];
};
static_assert(sizeof(CallerContext) == 7 * sizeof(uintptr_t), "caller context is 7 words");

#define NIMBEX_CALLER_WORDS \
    uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t

// The record of a PIN request (word 4): word 1 the PIN length in bytes (set by
// the host), word 2 the buffer (null on the first call, which asks the length).
struct HostPinRequest {
    uintptr_t length;
    char* buffer;
};
static_assert(sizeof(HostPinRequest) == 2 * sizeof(uintptr_t), "PIN request is 2 words");

// Word 4: (context, kind = 0x30, request). 2 means that no PIN is available.
typedef uint32_t (*HostPinRequestFn)(NIMBEX_CALLER_WORDS, uintptr_t kind, HostPinRequest* request);

// Word 6: hash of `data` with the CSP's algorithm `algId` into `out`.
// *length is the capacity of `out` on entry and the hash length on return; a
// null `out` asks for the length only.
typedef uint32_t (*HostHashFn)(NIMBEX_CALLER_WORDS, uintptr_t algId, const unsigned char* data,
                               uintptr_t dataLength, unsigned char* out, uint32_t* length);

// Word 7: HMAC with algorithm `algId` (0x8021 for the request signature) of
// `data` keyed with `key`, into `out`; *length is the capacity (32) on entry
// and the MAC length on return.
typedef uint32_t (*HostHmacFn)(NIMBEX_CALLER_WORDS, uintptr_t algId, const unsigned char* key,
                               uintptr_t keyLength, const unsigned char* data, uintptr_t dataLength,
                               unsigned char* out, uint32_t* length);

// Word 8: `length` random bytes into `out` (null when length is 0).
typedef uint32_t (*HostRandomFn)(NIMBEX_CALLER_WORDS, unsigned char* out, uintptr_t length);

// Word 9: opens the host's protected store; returns its handle, 0 on failure.
typedef uintptr_t (*HostStoreCreateFn)(NIMBEX_CALLER_WORDS);

// Word 10: releases a protected-store handle. Part of the protected-store set
// (words 9 to 13 must all be present for the store to be used); the module
// keeps its one store for the life of the process and never calls it.
typedef uint32_t (*HostStoreReleaseFn)(NIMBEX_CALLER_WORDS, uintptr_t store);

// Word 11: stores `length` bytes under `name` (machine scope when
// machineFlag is 1, the user's otherwise). The result is not looked at.
typedef uint32_t (*HostStoreSetFn)(NIMBEX_CALLER_WORDS, uintptr_t store, uintptr_t machineFlag,
                                   const char* name, const unsigned char* value, uintptr_t length);

// Word 12: reads the value of `name` into `buffer`; *length is the capacity
// on entry and the value length on return; a null buffer asks for the length.
// 0 on success.
typedef uint32_t (*HostStoreGetFn)(NIMBEX_CALLER_WORDS, uintptr_t store, uintptr_t machineFlag,
                                   const char* name, unsigned char* buffer, uint32_t* length);

// Word 13: removes the value of `name`. The result is not looked at.
typedef uint32_t (*HostStoreDeleteFn)(NIMBEX_CALLER_WORDS, uintptr_t store, uintptr_t machineFlag,
                                      const char* name);

#undef NIMBEX_CALLER_WORDS

// The callback table, words 8 to 21 of the set_callbacks record. Every entry
// may be null. Reserved words are kept but never called.
struct CallbackTable {
    uintptr_t reserved1;              // word 1
    uintptr_t reserved2;              // word 2
    uintptr_t reserved3;              // word 3
    HostPinRequestFn pinRequest;      // word 4
    uintptr_t reserved5;              // word 5
    HostHashFn hash;                  // word 6
    HostHmacFn hmac;                  // word 7
    HostRandomFn random;              // word 8
    HostStoreCreateFn storeCreate;    // word 9
    HostStoreReleaseFn storeRelease;  // word 10
    HostStoreSetFn storeSet;          // word 11
    HostStoreGetFn storeGet;          // word 12
    HostStoreDeleteFn storeDelete;    // word 13
    uintptr_t reserved14;             // word 14
};
static_assert(sizeof(CallbackTable) == 14 * sizeof(uintptr_t), "callback table is 14 words");
static_assert(offsetof(CallbackTable, pinRequest) == 3 * sizeof(uintptr_t), "word 4");
static_assert(offsetof(CallbackTable, hmac) == 6 * sizeof(uintptr_t), "word 7");
static_assert(offsetof(CallbackTable, random) == 7 * sizeof(uintptr_t), "word 8");
static_assert(offsetof(CallbackTable, storeDelete) == 12 * sizeof(uintptr_t), "word 13");

// What the module keeps of the host: the caller context followed by the
// callback table, laid out as the 21 words of the set_callbacks record. The
// reader context holds one; the request signer and the token savers reach the
// host through a pointer to it, so a later lock_reader that refreshes the
// caller words is seen by them.
struct HostContext {
    CallerContext caller;
    CallbackTable callbacks;
};
static_assert(sizeof(HostContext) == 21 * sizeof(uintptr_t), "host context is 21 words");
