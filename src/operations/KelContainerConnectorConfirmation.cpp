// Operation confirmation of KelContainerConnector: the confirmation loop and
// its steps, transactions and the version 2 operation references.
#include <json/value.h>
#include <json/writer.h>

#include <string>

#include "auth/AuthTokenSaver.h"
#include "base/ErrorCodes.h"
#include "base/JsonFields.h"
#include "base/KelException.h"
#include "base/SecretText.h"
#include "operations/KelContainerConnector.h"
#include "protocol/AuthResponse.h"
#include "protocol/RequestHeaders.h"
#include "protocol/ResponseDecoding.h"
#include "protocol/ServiceUrls.h"
#include "protocol/TextEncoding.h"

namespace {

// A display document above this size cannot travel in a version 1 transaction.
const uint32_t kMaxTransactionDisplayDocument = 104857600;

const char kDocumentInfo[] = "Необходимо подтверждение операции";

bool IsTrue(const Json::Value& value) {
    if (value.isBool()) return value.asBool();
    if (value.isIntegral()) return value.asLargestInt() != 0;
    return false;
}

[[noreturn]] void ThrowWrongResponse(const char* text) {
    throw KelException(text, codes::kFail);
}

std::string Decimal(uint32_t value) {
    return std::to_string(value);
}

std::string Base64Of(const std::vector<unsigned char>& bytes) {
    return EncodeBase64(bytes.data(), bytes.size());
}

// A challenge identifier as the answer carries it: a JSON string. A number is
// sent as its text; any other value is a malformed challenge.
Json::Value IdentifierText(const Json::Value& id, const char* wrongResponse) {
    if (id.isString()) return id;
    if (!id.isNumeric() || id.isBool()) ThrowWrongResponse(wrongResponse);
    return Json::Value(id.asString());
}

}  // namespace

void KelContainerConnector::ConfirmOperation(const std::string& reference) {
    ConfirmOperation(reference, 0);
}

void KelContainerConnector::ConfirmOperation(const std::string& reference, unsigned restarts) {
    if (!silent_ && confToken_.value.empty()) {
        SignInInteractive(reference);
        if (tokenSaver_) {
            if (!idToken_.value.empty()) tokenSaver_->SaveIdToken(idToken_.value);
            if (!confToken_.value.empty()) tokenSaver_->SaveConfToken(confToken_.value);
        }
        return;
    }

    pendingConfirmation_.Wipe();
    for (unsigned steps = 0;; ++steps) {
        if (steps >= kMaxConfirmationPolls) {
            pendingConfirmation_.Wipe();
            throw KelException("The operation confirmation is not final after " +
                                   std::to_string(kMaxConfirmationPolls) + " requests",
                               codes::kFail);
        }
        const ConfirmationResult result = ConfirmationStep(reference);
        if (result == ConfirmationResult::kFinal) break;
        if (result == ConfirmationResult::kTextResponseReady) {
            pause_(kConfirmationPollMs);
        } else if (result == ConfirmationResult::kConfTokenRefused) {
            confToken_.value.Wipe();
            confToken_.expiry = TSupTime{0};
            if (restarts >= kMaxConfirmationRestarts)
                throw KelException("The auth server keeps refusing the operation confirmation",
                                   codes::kSilentContext);
            ConfirmOperation(reference, restarts + 1);
            return;
        }
    }
    if (tokenSaver_ && !confToken_.value.empty()) tokenSaver_->SaveConfToken(confToken_.value);
}

KelContainerConnector::ConfirmationResult KelContainerConnector::ConfirmationStep(
    const std::string& reference) {
    SecretString body;
    if (!pendingConfirmation_.empty()) {
        body.swap(pendingConfirmation_);
    } else {
        SecretJson request(Json::objectValue);
        request["Resource"] = resourceUrn_;
        request["ClientId"] = kOAuthClientId;
        if (!reference.empty())
            request[HasDocumentStore() ? "OperationId" : "TransactionTokenId"] = reference;
        if (!confToken_.value.empty()) request["ConfToken"] = JsonStringOf(confToken_.value);
        body = WriteSecretJson(request);
    }

    const std::string url = authUrl_ + (HasDocumentStore() ? service_paths::kConfirmationV2
                                                           : service_paths::kConfirmation);
    std::vector<SecretString> headers =
        MakeRequestHeaders(accessToken_.value, body, login_, password_);
    if (accessToken_.value.empty() && login_.empty())
        throw KelException("Cannot get user credentials in silent mode", codes::kSilentContext);

    const SecretString answer = SendSecretRequest(url, headers, body);
    if (answer.empty())
        ThrowWrongResponse(
            "Cannot decode server response. The empty response for the operation confirmation.");
    SecretJson root;
    if (!ParseJson(answer, root))
        ThrowWrongResponse(
            "Cannot decode server response. The operation confirmation response is not a JSON.");
    const Json::Value& r = root;  // read only: no member is created by a lookup
    static const char kWrongJson[] =
        "Cannot decode server response. The operation confirmation response is a wrong JSON.";
    if (!r.isObject() || !r.isMember("IsError") || !r.isMember("IsFinal"))
        ThrowWrongResponse(kWrongJson);

    if (IsTrue(r["IsError"])) {
        const Json::Value& error = r["Error"];
        if (error.isString() && LookupErrorCode(error.asString()) == codes::kSilentContext)
            return ConfirmationResult::kConfTokenRefused;
        ThrowServiceError(*this, r, "confirmation");
    }

    if (!IsTrue(r["IsFinal"])) {
        if (!r.isMember("Challenge")) ThrowWrongResponse("Wrong response: no Challenge field");
        const Json::Value& challenge = r["Challenge"];
        SecretJson reply(Json::objectValue);
        ConfirmationResult result;
        if (challenge.isObject() && challenge.isMember("TextChallenge")) {
            const Json::Value& texts = challenge["TextChallenge"];
            if (!texts.isArray()) ThrowWrongResponse("Wrong response: Challenge is not array");
            const Json::Value& text = texts.empty() ? Json::Value::nullSingleton() : texts[0];
            if (!text.isObject() || !text.isMember("RefID") || !text.isMember("AuthnMethod"))
                ThrowWrongResponse("Wrong response: No RefID or AuthnMethod");
            const Json::Value& method = text["AuthnMethod"];
            if (!method.isString() || !IsConfirmationAuthMethod(method.asString()))
                throw KelException("Cannot find suitable type for silent confirmation",
                                   codes::kSilentContext);
            Json::Value answerItem(Json::objectValue);
            answerItem["RefId"] =
                IdentifierText(text["RefID"], "Wrong response: No RefID or AuthnMethod");
            reply["ChallengeResponse"]["TextChallengeResponse"].append(answerItem);
            result = ConfirmationResult::kTextResponseReady;
        } else if (challenge.isObject() && challenge.isMember("ChoiceChallenge")) {
            const Json::Value& choices = challenge["ChoiceChallenge"];
            const Json::Value& choice =
                choices.isArray() ? (choices.empty() ? Json::Value::nullSingleton() : choices[0])
                                  : choices;
            if (!choice.isObject() || !choice.isMember("Choice") || !choice.isMember("RefID"))
                ThrowWrongResponse("Wrong response: no choices or RefId exist");
            const Json::Value* selected = nullptr;
            const Json::Value& options = choice["Choice"];
            if (options.isArray() || options.isObject()) {
                for (const Json::Value& option : options) {
                    if (!option.isObject() || !option.isMember("RefID"))
                        ThrowWrongResponse("Wrong response: No RefID");
                    const Json::Value& id = option["RefID"];
                    if (id.isString() && IsConfirmationAuthMethod(id.asString())) {
                        selected = &id;
                        break;
                    }
                }
            }
            if (!selected)
                throw KelException("Cannot find suitable type for silent confirmation",
                                   codes::kSilentContext);
            Json::Value picked(Json::objectValue);
            picked["RefId"] = *selected;
            Json::Value answerItem(Json::objectValue);
            answerItem["ChoiceSelected"].append(picked);
            answerItem["RefID"] =
                IdentifierText(choice["RefID"], "Wrong response: no choices or RefId exist");
            reply["ChallengeResponse"]["ChoiceChallengeResponse"].append(answerItem);
            result = ConfirmationResult::kChoiceResponseReady;
        } else {
            ThrowWrongResponse("Wrong server responce: neither TextChallenge no ChoiceChallenge");
        }
        reply["Resource"] = resourceUrn_;
        reply["ClientId"] = kOAuthClientId;
        if (!confToken_.value.empty()) reply["ConfToken"] = JsonStringOf(confToken_.value);
        pendingConfirmation_ = WriteSecretJson(reply);
        return result;
    }

    if (!r.isMember("AccessToken") || !r.isMember("ExpiresIn") || !r["AccessToken"].isString())
        ThrowWrongResponse(kWrongJson);
    const Json::Value& access = r["AccessToken"];
    const Json::Value& expiresIn = r["ExpiresIn"];
    accessToken_.value = JsonSecretText(access);
    if (!expiresIn.isIntegral() || expiresIn.asLargestInt() < 0 ||
        expiresIn.asLargestUInt() > 0x7FFFFFFFu ||
        !ExpiryFromNow(static_cast<int>(expiresIn.asLargestUInt()), accessToken_.expiry))
        ThrowWrongResponse("Cannot decode auth token expire time.");

    if (r.isMember("ConfToken") && r.isMember("ConfTokenExpiresIn")) {
        const Json::Value& conf = r["ConfToken"];
        const Json::Value& confExpires = r["ConfTokenExpiresIn"];
        confToken_.value = JsonSecretText(conf);
        if (!confExpires.isIntegral() || confExpires.asLargestInt() < 0 ||
            confExpires.asLargestUInt() > 0x7FFFFFFFu ||
            !ExpiryFromNow(static_cast<int>(confExpires.asLargestUInt()), confToken_.expiry))
            ThrowWrongResponse("Cannot decode conf token expire time.");
    } else {
        confToken_.value.Wipe();
        confToken_.expiry = TSupTime{0};
    }
    return ConfirmationResult::kFinal;
}

std::string KelContainerConnector::CreateTransaction(const std::string& body) {
    const std::string url = signUrl_ + service_paths::kRestApi + "transactions";
    std::vector<SecretString> headers =
        MakeSignedRequestHeaders(signatureCreator_, url, accessToken_.value, body);
    const std::string answer = SendRequest(url, headers, body);
    Json::Value root;
    if (!ParseJson(answer, root) || !root.isString())
        ThrowWrongResponse(
            "Cannot decode server response. The transaction identificator is not a JSON.");
    return root.asString();
}

void KelContainerConnector::ConfirmTransaction(const std::string& operation, uint32_t id,
                                               const unsigned char* data, uint32_t dataLength,
                                               uint32_t hashAlgId, bool isDocument,
                                               const unsigned char* displayDocument,
                                               uint32_t displayLength) {
    const bool hasDisplay = displayDocument && displayLength > 0;
    if (hasDisplay && displayLength > kMaxTransactionDisplayDocument)
        throw KelException("Use API V2 to sign large documents with confirmation",
                           codes::kNoMemory);
    Json::Value parameters(Json::arrayValue);
    parameters.append(MakeNameValue("CertificateID", Decimal(id)));
    parameters.append(MakeNameValue("SignatureType", "GOST3410"));
    parameters.append(MakeNameValue("DocumentInfo", kDocumentInfo));
    if (hashAlgId != 0) parameters.append(MakeNameValue("HashAlgorithm", Decimal(hashAlgId)));
    if (!isDocument) parameters.append(MakeNameValue("Hash", "true"));
    if (hasDisplay)
        parameters.append(
            MakeNameValue("DisplayDocument", EncodeBase64(displayDocument, displayLength)));
    std::vector<unsigned char> document;
    if (data && dataLength > 0) document.assign(data, data + dataLength);
    const std::string transaction =
        CreateTransaction(MakeOperationRequest(operation, parameters, &document));
    ConfirmOperation(transaction);
}

void KelContainerConnector::ConfirmTransaction(const std::string& operation, uint32_t id) {
    Json::Value parameters(Json::arrayValue);
    parameters.append(MakeNameValue("CertificateID", id == 0 ? std::string() : Decimal(id)));
    const std::string transaction =
        CreateTransaction(MakeOperationRequest(operation, parameters, nullptr));
    ConfirmOperation(transaction);
}

void KelContainerConnector::ConfirmTransaction(const std::string& operation, uint32_t id,
                                               const std::vector<unsigned char>& peerPublicKey,
                                               const std::vector<unsigned char>& ukm,
                                               uint32_t algId,
                                               const std::vector<unsigned char>& mask) {
    Json::Value parameters(Json::arrayValue);
    parameters.append(MakeNameValue("CertificateID", Decimal(id)));
    parameters.append(MakeNameValue("PublicKeyInfo", Base64Of(peerPublicKey)));
    parameters.append(MakeNameValue("UKM", Base64Of(ukm)));
    if (algId != 0) parameters.append(MakeNameValue("VkoAlgId", Decimal(algId)));
    parameters.append(MakeNameValue("Mask", Base64Of(mask)));
    const std::string transaction =
        CreateTransaction(MakeOperationRequest(operation, parameters, nullptr));
    ConfirmOperation(transaction);
}

void KelContainerConnector::ConfirmTransaction(const std::string& operation, uint32_t algId,
                                               const std::string& paramSetOid, uint32_t keyLength) {
    Json::Value parameters(Json::arrayValue);
    parameters.append(MakeNameValue("AlgId", Decimal(algId)));
    parameters.append(MakeNameValue("ParamSetOid", paramSetOid));
    if (keyLength != 0) parameters.append(MakeNameValue("KeyLength", Decimal(keyLength)));
    const std::string transaction =
        CreateTransaction(MakeOperationRequest(operation, parameters, nullptr));
    ConfirmOperation(transaction);
}

void KelContainerConnector::ConfirmOperationV2(const std::string& operation, std::string_view url,
                                               std::string_view body, const char* method) {
    std::vector<SecretString> headers =
        operation == "SignDocument"
            ? MakeSignedRequestHeaders(signatureCreator_, url, accessToken_.value, body)
            : MakeRequestHeaders(accessToken_.value, body, SecretString(), SecretString());
    const std::string answer = SendRequest(url, headers, body, method);
    Json::Value root;
    if (!ParseJson(answer, root))
        throw KelException(
            "Cannot decode server response. The " + operation + "V2 response is not a JSON.",
            codes::kFail);
    const Json::Value& r = root;
    std::string id;
    bool found = false;
    if (r.isObject() && r.isMember("Operation") && r["Operation"].isObject()) {
        const Json::Value& op = r["Operation"];
        if (IsErrorResponse(op)) ThrowServiceError(*this, op, operation + "V2");
        if (op.isMember("Id") && op["Id"].isString()) {
            id = op["Id"].asString();
            found = true;
        }
    }
    if (!found)
        throw KelException(
            "Cannot decode server response. The " + operation + "V2 response is a wrong JSON.",
            codes::kFail);
    ConfirmOperation(id);
}
