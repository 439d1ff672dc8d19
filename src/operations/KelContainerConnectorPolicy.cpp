// API version probe and server policy of KelContainerConnector.
#include <cctype>

#include "operations/KelContainerConnector.h"
#include "protocol/ResponseDecoding.h"

namespace {

// The leading decimal digits of the answer; none (or a failed request) gives 0.
uint64_t LeadingNumber(const std::string& text) {
    uint64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (value < 1000000000ull) value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

uint32_t ProviderTypeOf(uint32_t algId) {
    switch (algId) {
        case 11849:  // 0x2E49
        case 43590:  // 0xAA46
            return 80;
        case 11811:  // 0x2E23
        case 43556:  // 0xAA24
            return 75;
        case 11837:  // 0x2E3D
        case 43586:  // 0xAA42
            return 81;
        default:
            return 0;
    }
}

uint64_t ApiVersion(KelContainerConnector& connector) {
    try {
        return LeadingNumber(connector.RestGet("/rest/api/apiversion", false));
    } catch (...) {
        return 0;
    }
}

}  // namespace

bool KelContainerConnector::HasApiVersion1() {
    return ApiVersion(*this) >= 1;
}

bool KelContainerConnector::HasApiVersion2() {
    return ApiVersion(*this) >= 2;
}

bool KelContainerConnector::IsMfaRequired(const std::string& action) {
    if (!policy_.loaded) DecodeServerPolicy(policy_, RestGet("/rest/api/policy", true));
    const auto it = policy_.mfaByAction.find(action);
    return it != policy_.mfaByAction.end() && it->second;
}

std::set<std::string> KelContainerConnector::GetSupportedParamSets(uint32_t algId) {
    if (!policy_.loaded) DecodeServerPolicy(policy_, RestGet("/rest/api/policy", true));
    if (algId == 0) {
        std::set<std::string> all;
        for (const auto& entry : policy_.paramSets)
            all.insert(entry.second.begin(), entry.second.end());
        return all;
    }
    const auto it = policy_.paramSets.find(ProviderTypeOf(algId));
    return it == policy_.paramSets.end() ? std::set<std::string>() : it->second;
}
