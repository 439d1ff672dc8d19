#include <json/writer.h>

#include <iostream>

#include "Commands.h"
#include "Failure.h"
#include "PinSource.h"

namespace nimbex_cli {

const char* const kPasswordOptions[2] = {"password-env", "password-fd"};
const char kAskPasswordFlag[] = "ask-password";

ManagementApi& Invocation::api() {
    if (!api_) api_ = std::make_shared<ManagementApi>(modulePath);
    return *api_;
}

void PrintJson(const Json::Value& document) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    std::cout << Json::writeString(builder, document) << "\n";
}

std::string ReadPassword(const CommandLine& line) {
    csphost::PinSource source = csphost::PinSource::None();
    if (line.Has("password-env"))
        source = csphost::PinSource::Environment(line.Value("password-env"));
    else if (line.Has("password-fd"))
        source = csphost::PinSource::Descriptor(static_cast<int>(line.Number("password-fd", 0)));
    else if (line.Has(kAskPasswordFlag))
        source = csphost::PinSource::Terminal("Password: ");
    else
        return "";
    std::string password;
    if (!source.Read(password)) throw UsageError("no password could be read");
    return password;
}

}  // namespace nimbex_cli
