// Key parameters of KelContainerConnector: named texts the service keeps for
// a key (container extensions, key permissions, KeySpec), written
// and read through one generic request each.
#include "base/KelException.h"
#include "operations/KelContainerConnector.h"
#include "protocol/KeyOperationAnswers.h"
#include "protocol/KeyOperationRequests.h"
#include "protocol/ServiceUrls.h"
#include "protocol/TextEncoding.h"

namespace {

const char kContainerExtensions[] = "container_extensions";
const char kKeyPermissions[] = "key_permissions";
const char kKeySpec[] = "KeySpec";

}  // namespace

void KelContainerConnector::SetKeyParameter(uint32_t id, const std::string& name,
                                            const std::string& text) {
    const std::string url =
        signUrl_ + service_paths::kRestApi + "keys/" + std::to_string(id) + "/params";
    EnsureAuthenticated();
    SendWithBearer(url, MakeKeyParameterRequest(name, text));
}

std::string KelContainerConnector::GetKeyParameter(uint32_t id, const std::string& name) {
    const std::string url =
        signUrl_ + service_paths::kRestApi + "keys/" + std::to_string(id) + "/params?param=" + name;
    EnsureAuthenticated();
    try {
        return DecodeKeyParameterAnswer(SendWithBearer(url, std::string()));
    } catch (const KelException&) {
        return std::string();
    }
}

void KelContainerConnector::SetContainerExtensions(uint32_t id,
                                                   const std::vector<unsigned char>& bytes) {
    SetKeyParameter(id, kContainerExtensions, EncodeBase64(bytes.data(), bytes.size()));
}

std::vector<unsigned char> KelContainerConnector::GetContainerExtensions(uint32_t id) {
    return KeyParameterBytes(GetKeyParameter(id, kContainerExtensions));
}

void KelContainerConnector::SetKeyPermissions(uint32_t id, uint32_t permissions) {
    SetKeyParameter(id, kKeyPermissions, KeyParameterNumberText(permissions));
}

uint32_t KelContainerConnector::GetKeyPermissions(uint32_t id) {
    return KeyParameterNumber(GetKeyParameter(id, kKeyPermissions));
}

void KelContainerConnector::SetKeySpec(uint32_t id, uint32_t keySpec) {
    SetKeyParameter(id, kKeySpec, KeyParameterNumberText(keySpec));
}

uint32_t KelContainerConnector::GetKeySpec(uint32_t id) {
    const uint32_t keySpec = KeyParameterNumber(GetKeyParameter(id, kKeySpec));
    return keySpec == 0 ? 1 : keySpec;
}
