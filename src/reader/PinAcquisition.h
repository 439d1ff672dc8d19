#pragma once
#include <cstdint>

#include "base/SecretString.h"
#include "reader/CloudReaderContext.h"

// Asks the caller for the PIN of the open container through its PIN
// callback (word 4 of the callback table) and returns a reader code:
//  - no PIN callback: 87;
//  - no PIN needed: `pin` is emptied, 0, nothing asked;
//  - the callback answers 2 (no PIN): 0x252D1230; another non-zero answer
//    is returned as it is; a length above 64 bytes: 87;
//  - otherwise 0 with the PIN in `pin`, taken as UTF-8 and normalised
//    through a round trip to wide characters when that conversion succeeds.
// Every temporary buffer is wiped; `pin` wipes itself.
uint32_t AcquirePin(const CloudReaderContext& context, SecretString& pin);
