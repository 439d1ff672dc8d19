#pragma once
#include <nimbex/reader.h>

#include <mutex>
#include <string>

#include "FileProtectedStore.h"
#include "PinSource.h"

namespace csphost {

// The callbacks the host hands to the reader (set_callbacks), with their
// state. The first caller-context word points at this object, so every
// callback finds its host again; the object must outlive the contexts that
// were given its table.
//
//  word 4   PIN request: the first call (no buffer) reads the PIN from the
//           PIN source and answers its length, the second hands it over and
//           wipes the host's copy; no PIN: 2.
//  word 6   digests (SHA-1, SHA-2) in their natural byte order.
//  word 7   HMAC-SHA-256 for algorithm 0x8021.
//  word 8   random bytes.
//  9 to 13  the protected store over FileProtectedStore; the handle is
//           always 1, the store the one of the host in word 1.
class CspCallbacks {
  public:
    CspCallbacks(PinSource pin, FileProtectedStore store);
    ~CspCallbacks();
    CspCallbacks(const CspCallbacks&) = delete;
    CspCallbacks& operator=(const CspCallbacks&) = delete;

    CloudCallbackTable Table() const;
    // The caller context: word 1 this object, word 5 bit 6 when silent,
    // word 7 set when the host keeps a local context.
    CloudCallerContext Caller(bool silent, bool localContext) const;

    const PinSource& pinSource() const { return pin_; }
    FileProtectedStore& store() { return store_; }

    // The host behind the first caller-context word.
    static CspCallbacks* From(uintptr_t word);
    // The answer of the PIN request callback, for `request`.
    uint32_t AnswerPinRequest(CloudPinRequest* request);

  private:
    PinSource pin_;
    FileProtectedStore store_;
    std::mutex pinGuard_;
    std::string pendingPin_;  // between the length query and the hand-over
    bool pinPending_ = false;
};

}  // namespace csphost
