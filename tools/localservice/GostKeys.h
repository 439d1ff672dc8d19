#pragma once
#include <string>
#include <vector>

#include "Codec.h"
#include "OpenSslPtr.h"

namespace localservice {

// GOST R 34.10-2012 keys through the GOST engine (tools/gost). Byte order at the service's
// interface: hashes, the peer's public key coordinates and the UKM arrive most significant byte
// first (the module reverses the CSP's values before sending); the engine takes digests and the
// UKM least significant byte first, so they are reversed here. Signatures leave as the engine
// writes them, s then r, each big-endian and as long as the key's order (the form of GOST
// signatures in certificates and CMS); agreed keys leave as the hash that derives them writes them.
namespace gostkeys {

// Whether the engine is loaded; otherwise says once on standard error why not.
bool Available();

// The parameter set OIDs the service generates keys for: 256 or 512 bits.
std::vector<std::string> ParamSetOids(unsigned bits);
// A new key of the parameter set with that OID, or null when the OID is not one of them.
PkeyPtr Generate(const std::string& oid);
// A new key of the default parameter set of that size ("gost256", "gost512").
PkeyPtr GenerateOfType(const std::string& type);

// The signature of a digest in the byte order the engine writes it.
Bytes SignDigest(EVP_PKEY* key, const Bytes& digest);

// The peer's key on the parameter set of own: a DER SubjectPublicKeyInfo, or X then Y, each
// most significant byte first and as long as own's coordinates. Null for anything else.
PkeyPtr PeerKey(EVP_PKEY* own, const Bytes& info);
// VKO GOST R 34.10-2012 with the UKM (most significant byte first): 32 bytes through
// GOST R 34.11-2012-256 (UKM of 1 to 8 bytes), or, for the long form, 64 bytes through
// GOST R 34.11-2012-512 (UKM of 1 to 16 bytes; 512-bit keys only). Throws ServiceError.
Bytes Agree(EVP_PKEY* own, EVP_PKEY* peer, const Bytes& ukm, bool longForm);

}  // namespace gostkeys
}  // namespace localservice
