// Key agreement with a key on the service (KelContainerConnector::AgreeKey).
#include <vector>

#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "base/SecretText.h"
#include "base/Wipe.h"
#include "operations/KelContainerConnector.h"
#include "protocol/Base64Result.h"
#include "protocol/KeyAgreementRequest.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/TextEncoding.h"

namespace {

std::vector<unsigned char> Bytes(const unsigned char* data, uint32_t length) {
    return data && length ? std::vector<unsigned char>(data, data + length)
                          : std::vector<unsigned char>();
}

}  // namespace

void KelContainerConnector::AgreeKey(uint32_t id, const unsigned char* peerPublicKey,
                                     uint32_t peerKeyLength, const unsigned char* ukm,
                                     uint32_t ukmLength, const unsigned char* mask,
                                     uint32_t maskLength, std::string_view pin, uint32_t algId,
                                     unsigned char* result, uint32_t* resultLength) {
    static const char kOperation[] = "PrivateKeyAccess";
    if (algId == kLongVkoAlgId) {
        if (!HasApiVersion2())
            throw KelException("The server does not support long VKO key creation",
                               codes::kNotSupported);
    } else {
        algId = 0;
    }
    const std::string url = OperationUrl("keys/agree");
    EnsureAuthenticated();

    const SecretString body = MakeAgreeKeyRequest(id, EncodeBase64(peerPublicKey, peerKeyLength),
                                                  EncodeBase64(ukm, ukmLength),
                                                  EncodeBase64(mask, maskLength), pin, algId);
    ConfirmWhenRequired(kOperation, url, body, nullptr, [&] {
        ConfirmTransaction(kOperation, id, Bytes(peerPublicKey, peerKeyLength),
                           Bytes(ukm, ukmLength), algId, Bytes(mask, maskLength));
    });

    // The answer and its decoded form hold the agreed key. The transport and
    // the decoder deal in std::string: the answer is wiped by hand.
    std::string answer = SendWithBearer(url, body);
    WipeOnExit wipeAnswer(answer);
    SecretJson value;
    value = DecodeOperationResponse(*this, kOperation, answer, HasDocumentStore(), false);
    bool notString = false;
    if (!DecodeBase64Result(value, result, resultLength, notString))
        throw KelException(std::string("Cannot decode server response. The exchange key is ") +
                               (notString ? "not a string." : "not a Base64 string."),
                           codes::kFail);
}
