#pragma once
#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ManagementApi.h"

namespace nimbex_cli {

// What every subcommand gets: the words after its name, the module, and
// whether results go out as JSON.
struct Invocation {
    std::vector<std::string> words;
    std::string modulePath;
    bool json = false;
    bool quiet = false;

    // Loaded on first use, so that --help works without a module.
    ManagementApi& api();

  private:
    std::shared_ptr<ManagementApi> api_;
};

// Prints a result document as indented JSON on standard output.
void PrintJson(const Json::Value& document);

// A secret (password) from --password-env VAR, --password-fd N or, with
// --ask-password, the terminal without echo; empty when none of them is given.
std::string ReadPassword(const CommandLine& line);
// The options ReadPassword understands.
extern const char* const kPasswordOptions[2];
extern const char kAskPasswordFlag[];

// The command groups; each returns the exit status.
int ServiceCommand(Invocation& inv);
int CertCommand(Invocation& inv);
int LogoutCommand(Invocation& inv);
int TimeoutCommand(Invocation& inv);
int SignCommand(Invocation& inv);
int PinCommand(Invocation& inv);
int KeyCommand(Invocation& inv);
int ConfigCommand(Invocation& inv);

}  // namespace nimbex_cli
