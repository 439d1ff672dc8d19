#pragma once
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/SecretString.h"
#include "protocol/CertificateRecord.h"

class AuthTokenSaver;
class HttpMessageSignatureCreatorBase;
class UrlRetriever;

// Everything the module asks of one remote signature service. The operations
// keep this order; failures are thrown as KelException. PINs, credentials and
// tokens come in as views of the caller's SecretString (no copy is made on
// the way) and go out as SecretString.
class ContainerConnectorBase {
  public:
    virtual ~ContainerConnectorBase() = default;

    virtual std::vector<CertificateRecord> GetCertificates() = 0;
    virtual CertificateRecord GetCertificate(uint32_t id) = 0;
    virtual CertificateRecord InstallPfx(const std::vector<unsigned char>& pfx,
                                         std::string_view password) = 0;
    virtual CertificateRecord InstallPfxBase64(const std::string& pfxBase64,
                                               std::string_view password) = 0;
    virtual CertificateRecord CreateKey(uint32_t algId, const std::string& paramSetOid,
                                        std::string_view pin, uint32_t keyLength) = 0;
    virtual CertificateRecord InstallCertificate(const unsigned char* certificate,
                                                 uint32_t length) = 0;
    virtual void SetContainerExtensions(uint32_t id, const std::vector<unsigned char>& bytes) = 0;
    virtual std::vector<unsigned char> GetContainerExtensions(uint32_t id) = 0;
    virtual void SetKeyPermissions(uint32_t id, uint32_t permissions) = 0;
    virtual uint32_t GetKeyPermissions(uint32_t id) = 0;
    virtual void SetKeySpec(uint32_t id, uint32_t keySpec) = 0;
    virtual uint32_t GetKeySpec(uint32_t id) = 0;
    virtual void DeleteCertificate(uint32_t id) = 0;
    // data is a hash value unless isDocument; *signatureLength: capacity in,
    // signature length out; a null signature asks for the length.
    virtual void Sign(uint32_t id, const unsigned char* data, uint32_t dataLength,
                      uint32_t hashAlgId, std::string_view pin, unsigned char* signature,
                      uint32_t* signatureLength, bool isDocument,
                      const unsigned char* displayDocument, uint32_t displayDocumentLength) = 0;
    virtual void AgreeKey(uint32_t id, const unsigned char* peerPublicKey, uint32_t peerKeyLength,
                          const unsigned char* ukm, uint32_t ukmLength, const unsigned char* mask,
                          uint32_t maskLength, std::string_view pin, uint32_t algId,
                          unsigned char* result, uint32_t* resultLength) = 0;
    virtual bool ValidatePin(uint32_t id, std::string_view pin, uint32_t* attemptsLeft) = 0;
    virtual void ChangePin(uint32_t id, std::string_view oldPin, std::string_view newPin) = 0;
    virtual void SetCredentials(std::string_view login, std::string_view password) = 0;
    virtual bool IsMfaRequired(const std::string& action) = 0;
    virtual std::set<std::string> GetSupportedParamSets(uint32_t algId) = 0;
    virtual void SetSilent(bool silent) = 0;
    virtual void SetHttpErrorLevel(uint32_t level) = 0;
    virtual void SetUrlRetriever(boost::shared_ptr<UrlRetriever> client) = 0;
    virtual void SetPermitHttp(bool permit) = 0;
    virtual void SetKeepAlive(bool keepAlive) = 0;
    virtual void SetTimeout(uint16_t milliseconds) = 0;
    virtual uint16_t GetTimeout() = 0;
    virtual bool HasApiVersion1() = 0;
    virtual bool HasDocumentStore() = 0;
    virtual bool HasApiVersion2() = 0;
    virtual bool FindCertificateByThumbprint(const std::vector<unsigned char>& certificate,
                                             uint32_t* id) = 0;
    virtual void SetAccessToken(std::string_view token) = 0;
    virtual SecretString GetAccessToken() = 0;
    virtual void SetIdToken(std::string_view token) = 0;
    virtual SecretString GetIdToken() = 0;
    virtual void DropTokens() = 0;
    virtual void SignOut() = 0;
    virtual void SetAuthTokenSaver(boost::shared_ptr<AuthTokenSaver> saver) = 0;
    virtual void SetMessageSignatureCreator(
        boost::shared_ptr<HttpMessageSignatureCreatorBase> creator) = 0;
};
