// PIN operations of KelContainerConnector: change (with confirmation when the
// policy asks for it) and validation with the attempts left.
#include "base/ErrorCodes.h"
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"
#include "protocol/KeyOperationAnswers.h"
#include "protocol/KeyOperationRequests.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/ServiceUrls.h"

void KelContainerConnector::ChangePin(uint32_t id, std::string_view oldPin,
                                      std::string_view newPin) {
    static const char kOperation[] = "ChangePin";
    const std::string url = OperationUrl("certificates/" + std::to_string(id) + "/pin");
    EnsureAuthenticated();
    const SecretString body = MakePinChangeRequest(oldPin, newPin);
    ConfirmWhenRequired(kOperation, url, body, nullptr,
                        [&] { ConfirmTransaction(kOperation, id); });
    const std::string answer = SendWithBearer(url, body);
    if (!IsEmptyResult(
            DecodeOperationResponse(*this, kOperation, answer, HasDocumentStore(), true)))
        throw KelException("Not expected non-empty response for change pin command",
                           codes::kNotSupported);
}

bool KelContainerConnector::ValidatePin(uint32_t id, std::string_view pin, uint32_t* attemptsLeft) {
    const std::string url = signUrl_ + service_paths::kRestApi + "certificates/" +
                            std::to_string(id) + "/pin/validate?returnAttempts=true";
    EnsureAuthenticated();
    const SecretString body = MakePinValidationBody(pin);
    return DecodePinValidationAnswer(SendWithBearer(url, body), attemptsLeft);
}
