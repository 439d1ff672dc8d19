#pragma once
#include "operations/KelContainerConnector.h"

// What tests see of a connector beyond its interface: the login, the tokens,
// whether they are current, the pending confirmation request, the request
// signer and the pause between confirmation polls.
class KelContainerConnectorTestPeer {
  public:
    explicit KelContainerConnectorTestPeer(KelContainerConnector& connector) : c_(connector) {}

    const SecretString& Login() const { return c_.login_; }
    const TokenRecord& AccessToken() const { return c_.accessToken_; }
    const TokenRecord& IdToken() const { return c_.idToken_; }
    const TokenRecord& ConfToken() const { return c_.confToken_; }
    bool TokensCurrent() const { return c_.tokensCurrent_; }
    const SecretString& PendingConfirmationRequest() const { return c_.pendingConfirmation_; }
    const boost::shared_ptr<HttpMessageSignatureCreatorBase>& SignatureCreator() const {
        return c_.signatureCreator_;
    }
    void SetPause(KelContainerConnector::PauseFunction pause) { c_.pause_ = std::move(pause); }

  private:
    KelContainerConnector& c_;
};
