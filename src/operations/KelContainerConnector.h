#pragma once
#include <support/support.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "auth/BrowserRunner.h"
#include "base/SecretString.h"
#include "operations/ContainerConnectorBase.h"
#include "protocol/AuthResponse.h"
#include "protocol/ServerPolicy.h"
#include "transport/KelUrlRetriever.h"

class AuthTokenSaver;
class HttpMessageSignatureCreatorBase;

// A bearer credential and the moment after which it is no longer used.
struct TokenRecord {
    SecretString value;
    TSupTime expiry{0};
};

// The OAuth2 client id of the module.
extern const char kOAuthClientId[];

// How far the out-of-band confirmation may go before the connector gives up:
// text challenges are polled every kConfirmationPollMs, at most
// kMaxConfirmationPolls times per confirmation (ten minutes), and a refused
// confirmation token restarts the confirmation at most
// kMaxConfirmationRestarts times.
constexpr unsigned kConfirmationPollMs = 2000;
constexpr unsigned kMaxConfirmationPolls = 300;
constexpr unsigned kMaxConfirmationRestarts = 3;

// The connector to one signature service: its auth server, sign server and
// optional document store, the user's credentials and tokens, the transport
// options, the request signer and the token saver. Not locked: callers
// serialise their use of one connector.
class KelContainerConnector : public ContainerConnectorBase, private KelUrlRetriever {
  public:
    // Waits the given number of milliseconds between confirmation polls
    // (sleeps; tests count the pauses instead).
    typedef std::function<void(unsigned milliseconds)> PauseFunction;

    // Derives the base URLs (sign server, auth server, then the document
    // store when docstoreUrl is not empty); a malformed URL throws. A null
    // runner stores the default browser runner.
    KelContainerConnector(const std::string& authUrl, const std::string& signUrl,
                          const std::string& docstoreUrl, BrowserRunner runner = nullptr);
    ~KelContainerConnector() override;
    KelContainerConnector(const KelContainerConnector&) = delete;
    KelContainerConnector& operator=(const KelContainerConnector&) = delete;

    // ---- service operations (not built in this module version unless noted)
    std::vector<CertificateRecord> GetCertificates() override;
    CertificateRecord GetCertificate(uint32_t id) override;
    CertificateRecord InstallPfx(const std::vector<unsigned char>& pfx,
                                 std::string_view password) override;
    CertificateRecord InstallPfxBase64(const std::string& pfxBase64,
                                       std::string_view password) override;
    CertificateRecord CreateKey(uint32_t algId, const std::string& paramSetOid,
                                std::string_view pin, uint32_t keyLength) override;
    CertificateRecord InstallCertificate(const unsigned char* certificate,
                                         uint32_t length) override;
    void SetContainerExtensions(uint32_t id, const std::vector<unsigned char>& bytes) override;
    std::vector<unsigned char> GetContainerExtensions(uint32_t id) override;
    void SetKeyPermissions(uint32_t id, uint32_t permissions) override;
    uint32_t GetKeyPermissions(uint32_t id) override;
    void SetKeySpec(uint32_t id, uint32_t keySpec) override;
    uint32_t GetKeySpec(uint32_t id) override;
    void DeleteCertificate(uint32_t id) override;
    void Sign(uint32_t id, const unsigned char* data, uint32_t dataLength, uint32_t hashAlgId,
              std::string_view pin, unsigned char* signature, uint32_t* signatureLength,
              bool isDocument, const unsigned char* displayDocument,
              uint32_t displayDocumentLength) override;
    void AgreeKey(uint32_t id, const unsigned char* peerPublicKey, uint32_t peerKeyLength,
                  const unsigned char* ukm, uint32_t ukmLength, const unsigned char* mask,
                  uint32_t maskLength, std::string_view pin, uint32_t algId, unsigned char* result,
                  uint32_t* resultLength) override;
    bool ValidatePin(uint32_t id, std::string_view pin, uint32_t* attemptsLeft) override;
    void ChangePin(uint32_t id, std::string_view oldPin, std::string_view newPin) override;

    // ---- configuration, policy and version
    void SetCredentials(std::string_view login, std::string_view password) override;
    bool IsMfaRequired(const std::string& action) override;
    std::set<std::string> GetSupportedParamSets(uint32_t algId) override;
    void SetSilent(bool silent) override;
    void SetHttpErrorLevel(uint32_t level) override;
    void SetUrlRetriever(boost::shared_ptr<UrlRetriever> client) override;
    void SetPermitHttp(bool permit) override;
    void SetKeepAlive(bool keepAlive) override;
    void SetTimeout(uint16_t milliseconds) override;
    uint16_t GetTimeout() override;
    bool HasApiVersion1() override;
    bool HasDocumentStore() override;
    bool HasApiVersion2() override;
    bool FindCertificateByThumbprint(const std::vector<unsigned char>& certificate,
                                     uint32_t* id) override;

    // ---- tokens
    void SetAccessToken(std::string_view token) override;
    SecretString GetAccessToken() override;
    void SetIdToken(std::string_view token) override;
    SecretString GetIdToken() override;
    void DropTokens() override;
    void SignOut() override;
    void SetAuthTokenSaver(boost::shared_ptr<AuthTokenSaver> saver) override;
    void SetMessageSignatureCreator(
        boost::shared_ptr<HttpMessageSignatureCreatorBase> creator) override;

    // ---- requests and sign-in (used by the service operations)

    // GET of sign server URL + path. Authenticated: tokens are made sure of
    // first and the request carries the bearer line and may be renewed once;
    // otherwise it goes straight to the transport with no header lines.
    std::string RestGet(const std::string& path, bool authenticate);
    // Sends a request; when it fails while the tokens are current, signs in
    // again, refreshes the bearer and "VL-Signature" lines and sends it once
    // more. headers are updated in place.
    std::string SendRequest(std::string_view url, std::vector<SecretString>& headers,
                            std::string_view body, const char* method = nullptr);
    // Makes sure an access token is at hand (saved, renewed or new).
    void EnsureAuthenticated();
    // Password grant or silent authorization; falls back to the confirmation flow.
    void Authenticate();
    // Sign-in through the browser application, for the operation `reference`.
    void SignInInteractive(const std::string& reference);

    // ---- operation confirmation

    enum class ConfirmationResult {
        kTextResponseReady,    // answer to a text challenge pending: poll again after a pause
        kChoiceResponseReady,  // answer to a choice challenge pending: send at once
        kConfTokenRefused,     // the auth server refused the confirmation token
        kFinal,                // new tokens taken from the answer
    };
    // Runs a confirmation of the operation `reference` (may be empty) to its end.
    void ConfirmOperation(const std::string& reference);
    ConfirmationResult ConfirmationStep(const std::string& reference);
    // Creates a transaction on the sign server; returns its identifier.
    std::string CreateTransaction(const std::string& body);
    // Signing: data (hash or whole document) and an optional display document.
    void ConfirmTransaction(const std::string& operation, uint32_t id, const unsigned char* data,
                            uint32_t dataLength, uint32_t hashAlgId, bool isDocument,
                            const unsigned char* displayDocument, uint32_t displayLength);
    // Certificate deletion and PIN change.
    void ConfirmTransaction(const std::string& operation, uint32_t id);
    // Key agreement.
    void ConfirmTransaction(const std::string& operation, uint32_t id,
                            const std::vector<unsigned char>& peerPublicKey,
                            const std::vector<unsigned char>& ukm, uint32_t algId,
                            const std::vector<unsigned char>& mask);
    // Key creation.
    void ConfirmTransaction(const std::string& operation, uint32_t algId,
                            const std::string& paramSetOid, uint32_t keyLength);
    // Sends the operation's own request, takes the pending operation's id
    // from the answer and confirms it.
    void ConfirmOperationV2(const std::string& operation, std::string_view url,
                            std::string_view body, const char* method);

    // ---- document store

    // Uploads size bytes to the document store and returns the document id;
    // "" without a request for null or empty bytes. Sent once, not renewed.
    std::string UploadDocument(const unsigned char* data, size_t size);
    // Downloads a document: copies it into buffer when one is given (refused,
    // with nothing written, when it is longer than the capacity *length) and
    // stores its length in *length when given.
    void GetDocumentContent(const std::string& id, unsigned char* buffer, uint32_t* length);
    // Deletes a document; nothing for an empty id.
    void DeleteDocument(const std::string& id);

    // ---- service URLs, policy and the access token (shown by the demo)
    const std::string& AuthUrl() const { return authUrl_; }
    const std::string& SignUrl() const { return signUrl_; }
    const std::string& DocstoreUrl() const { return docstoreUrl_; }
    const std::string& ResourceUrn() const { return resourceUrn_; }
    const ServerPolicy& Policy() const { return policy_; }
    const TokenRecord& AccessToken() const { return accessToken_; }

  private:
    // Tests see the state through KelContainerConnectorTestPeer (tests/common).
    friend class KelContainerConnectorTestPeer;

    // The request signer and the transport, for the service operations.
    const boost::shared_ptr<HttpMessageSignatureCreatorBase>& SignatureCreator() const {
        return signatureCreator_;
    }
    KelUrlRetriever& Transport() { return *this; }

    // SendRequest for an answer that carries tokens.
    SecretString SendSecretRequest(std::string_view url, std::vector<SecretString>& headers,
                                   std::string_view body);
    // After a failed request with current tokens: signs in again and renews
    // the bearer and "VL-Signature" lines.
    void RenewRequest(std::string_view url, std::vector<SecretString>& headers,
                      std::string_view body);
    // Wipes and empties the three tokens, zeroes their expiry times and
    // resets *tokens current*.
    void ClearTokens();
    // Decodes an OAuth2 answer into the tokens.
    void DecodeTokens(const AuthParameters& parameters);

    // ---- steps shared by the certificate, key and PIN operations

    // The sign server URL of an operation that has a "v2/" form:
    // "/rest/api/", then "v2/" when there is a document store, then `tail`.
    std::string OperationUrl(const std::string& tail) const;
    // Sends body (none when empty) with the bearer line and the content lines
    // through SendRequest. The body may carry a PIN.
    std::string SendWithBearer(const std::string& url, std::string_view body,
                               const char* method = nullptr);
    // When the policy wants `operation` confirmed: confirms the pending
    // operation of the request (url, body, method) with a document store,
    // else runs `confirmTransaction`.
    void ConfirmWhenRequired(const std::string& operation, const std::string& url,
                             std::string_view body, const char* method,
                             const std::function<void()>& confirmTransaction);
    // The generic write and read of a named key parameter; the read answers
    // "" when the request or its answer fails (sign-in failures pass).
    void SetKeyParameter(uint32_t id, const std::string& name, const std::string& text);
    std::string GetKeyParameter(uint32_t id, const std::string& name);

    // ---- the two ways of signing (KelContainerConnectorSigning.cpp)
    void SignOverDocuments(bool confirm, uint32_t id, const unsigned char* data,
                           uint32_t dataLength, uint32_t hashAlgId, std::string_view pin,
                           unsigned char* signature, uint32_t* signatureLength,
                           const unsigned char* displayDocument, uint32_t displayLength);
    void SignInBody(bool confirm, uint32_t id, const unsigned char* data, uint32_t dataLength,
                    uint32_t hashAlgId, std::string_view pin, unsigned char* signature,
                    uint32_t* signatureLength, bool isDocument,
                    const unsigned char* displayDocument, uint32_t displayLength);

    void ConfirmOperation(const std::string& reference, unsigned restarts);

    std::string authUrl_;
    std::string signUrl_;
    std::string docstoreUrl_;
    std::string resourceUrn_;
    bool silent_ = false;
    SecretString login_;
    SecretString password_;
    TokenRecord accessToken_;
    TokenRecord idToken_;
    TokenRecord confToken_;
    SecretString pendingConfirmation_;
    bool tokensCurrent_ = false;
    ServerPolicy policy_;
    BrowserRunner browserRunner_;
    boost::shared_ptr<HttpMessageSignatureCreatorBase> signatureCreator_;
    boost::shared_ptr<AuthTokenSaver> tokenSaver_;
    PauseFunction pause_;
};

// Builds a connector over the three URLs with the default browser runner.
boost::shared_ptr<ContainerConnectorBase> CreateKelContainerConnector(
    const std::string& authUrl, const std::string& signUrl, const std::string& docstoreUrl);
