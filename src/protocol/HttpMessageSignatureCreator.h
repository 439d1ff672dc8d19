#pragma once
#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/HostCallbacks.h"
#include "base/SecretString.h"

// Builds the "VL-Signature" header line of a request.
class HttpMessageSignatureCreatorBase {
  public:
    // `url` is the full request URL, `headers` the lines in the order they are
    // sent, `body` the body exactly as sent. Returns the complete header line
    // without line terminator (the key and MAC it carries are no secrets).
    virtual std::string CreateSignature(std::string_view url,
                                        const std::vector<SecretString>& headers,
                                        std::string_view body) const = 0;
    virtual ~HttpMessageSignatureCreatorBase();
};

// HMAC (32 bytes) of `data` keyed with `key`, computed by the host (callback
// word 7, algorithm 0x8021). Throws "Cannot compute HMAC" with the host's code.
std::vector<unsigned char> ComputeHmac(const HostContext* host,
                                       const std::vector<unsigned char>& key,
                                       std::string_view data);

// `length` random bytes from the host (callback word 8). Throws
// "Cannot generate random" with the host's code.
std::vector<unsigned char> GenerateRandom(const HostContext* host, std::size_t length);

// Signs with a fresh 32-byte random key per request; the HMAC and the random
// bytes come from the host.
class HttpMessageSignatureCreator : public HttpMessageSignatureCreatorBase {
  public:
    typedef std::vector<unsigned char> (*HmacFunction)(const HostContext* host,
                                                       const std::vector<unsigned char>& key,
                                                       std::string_view data);
    typedef std::vector<unsigned char> (*RandomFunction)(const HostContext* host,
                                                         std::size_t length);

    // `host` must outlive the creator (the reader context owns both).
    HttpMessageSignatureCreator(const HostContext* host, HmacFunction hmac = ComputeHmac,
                                RandomFunction random = GenerateRandom);

    std::string CreateSignature(std::string_view url, const std::vector<SecretString>& headers,
                                std::string_view body) const override;

  private:
    HmacFunction hmac_;
    RandomFunction random_;
    const HostContext* host_;
};

// The signer of a reader context: ComputeHmac and GenerateRandom over `host`,
// made in one allocation with its shared count.
boost::shared_ptr<HttpMessageSignatureCreatorBase> MakeMessageSignatureCreator(
    const HostContext* host);
