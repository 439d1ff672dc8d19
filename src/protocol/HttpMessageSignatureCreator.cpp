#include "protocol/HttpMessageSignatureCreator.h"

#include <boost/make_shared.hpp>
#include <cctype>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "base/Wipe.h"
#include "config/UrlParts.h"
#include "protocol/TextEncoding.h"

namespace {

const uint32_t kHmacAlgorithm = 0x8021;
const std::size_t kKeySize = 32;
const std::size_t kMacSize = 32;

}  // namespace

HttpMessageSignatureCreatorBase::~HttpMessageSignatureCreatorBase() = default;

std::vector<unsigned char> ComputeHmac(const HostContext* host,
                                       const std::vector<unsigned char>& key,
                                       std::string_view data) {
    if (!host || !host->callbacks.hmac) throw KelException("Cannot compute HMAC", codes::kFail);
    const uintptr_t* w = host->caller.words;
    std::vector<unsigned char> mac(kMacSize);
    uint32_t length = kMacSize;
    uint32_t rc = host->callbacks.hmac(
        w[0], w[1], w[2], w[3], w[4], w[5], w[6], kHmacAlgorithm, key.data(), key.size(),
        reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac.data(), &length);
    if (rc != 0) {
        WipeVector(mac);
        throw KelException("Cannot compute HMAC", rc);
    }
    // The MAC is the whole 32-byte buffer whatever length the host reports.
    return mac;
}

std::vector<unsigned char> GenerateRandom(const HostContext* host, std::size_t length) {
    if (!host || !host->callbacks.random)
        throw KelException("Cannot generate random", codes::kFail);
    const uintptr_t* w = host->caller.words;
    std::vector<unsigned char> bytes(length);
    uint32_t rc = host->callbacks.random(w[0], w[1], w[2], w[3], w[4], w[5], w[6],
                                         length ? bytes.data() : nullptr, length);
    if (rc != 0) {
        WipeVector(bytes);
        throw KelException("Cannot generate random", rc);
    }
    return bytes;
}

HttpMessageSignatureCreator::HttpMessageSignatureCreator(const HostContext* host, HmacFunction hmac,
                                                         RandomFunction random)
    : hmac_(hmac), random_(random), host_(host) {}

std::string HttpMessageSignatureCreator::CreateSignature(std::string_view url,
                                                         const std::vector<SecretString>& headers,
                                                         std::string_view body) const {
    if (!hmac_ || !random_)
        throw KelException("Cannot create message signature due to bad callbacks", codes::kFail);
    UrlParts parts = SplitUrl(std::string(url));
    if (!parts.parsed || parts.path.empty())
        throw KelException("Wrong url has come for signature", codes::kFail);

    std::string headerList = "(request-target)";
    // The signed data holds the bearer token.
    SecretString data = "(request-target): post " + parts.path;
    for (const SecretString& line : headers) {
        const std::string::size_type colon = line.find(':');
        if (colon == std::string::npos) throw KelException("Wrong HTTP header", codes::kFail);
        std::string name(line.data(), colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        data += '\n';
        data += name;
        data.append(line, colon, std::string::npos);
        headerList += ' ';
        headerList += name;
    }
    data += body;

    std::vector<unsigned char> key = random_(host_, kKeySize);
    std::string result = "VL-Signature: headers=\"" + headerList + "\", key=\"" +
                         EncodeBase64(key.data(), key.size()) + "\", ";
    const std::vector<unsigned char> mac = hmac_(host_, key, data);
    result += "signature=\"" + EncodeBase64(mac.data(), mac.size()) + "\"";
    return result;
}

boost::shared_ptr<HttpMessageSignatureCreatorBase> MakeMessageSignatureCreator(
    const HostContext* host) {
    return boost::make_shared<HttpMessageSignatureCreator>(host, ComputeHmac, GenerateRandom);
}
