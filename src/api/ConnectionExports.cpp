// Sign-out and the connection time-out.
#include <nimbex/management.h>

#include <boost/make_shared.hpp>

#include "api/ManagementService.h"
#include "auth/AuthTokenRegistrySaver.h"
#include "base/ErrorBoundary.h"
#include "base/ErrorCodes.h"
#include "config/ModuleOptions.h"
#include "config/SavedCredentials.h"
#include "operations/KelContainerConnector.h"

uint32_t KelDropAuthCookies(const CloudServerSettings* settings) {
    if (!settings || !settings->name || !UrlsPaired(*settings)) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        const ServerSettings entry = ResolveService(*settings, 0).entry;
        const ModuleOptions options = ReadModuleOptions();
        boost::shared_ptr<ContainerConnectorBase> connector =
            CreateKelContainerConnector(entry.authUrl, entry.restUrl, "");
        connector->SetTimeout(static_cast<uint16_t>(options.timeout));
        connector->SetHttpErrorLevel(options.httpErrorLevel);
        connector->SetPermitHttp(options.permitHttp);
        connector->SignOut();
        if (options.shouldSaveAuthToken)
            connector->SetAuthTokenSaver(
                boost::make_shared<AuthTokenRegistrySaver>(entry.name, nullptr, 0));
        connector->DropTokens();
        DeleteCredentials(entry.name);
        return codes::kSuccess;
    });
}

uint32_t KelSetConnectionTimeout(int32_t timeout) {
    return Boundary([&]() -> uint32_t {
        SetModuleOption(kOptionTimeout, timeout);
        return codes::kSuccess;
    });
}

uint32_t KelGetConnectionTimeout(uint16_t* timeout) {
    if (!timeout) return codes::kInvalidParameter;
    return Boundary([&]() -> uint32_t {
        *timeout = GetTimeoutOption();
        return codes::kSuccess;
    });
}
