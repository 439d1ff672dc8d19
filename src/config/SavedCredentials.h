#pragma once
#include <string>

#include "base/SecretString.h"

// Short secrets kept per user as registry byte strings (text bytes + one NUL)
// under "\local\KeyDevices\CloudPasswords\" + key.
extern const char kSavedCredentialsSection[];

void SaveSecret(const std::string& key, const SecretString& text);
// The stored text up to its first NUL; empty when nothing is stored.
SecretString LoadSecret(const std::string& key);
// Deleting an absent secret is not an error.
void DeleteSecret(const std::string& key);

// The credential forms: keys name + "_username" and name + "_password".
void SaveUserName(const std::string& name, const SecretString& userName);
void SavePassword(const std::string& name, const SecretString& password);
SecretString LoadUserName(const std::string& name);
SecretString LoadPassword(const std::string& name);
// Deletes the "_username" value, then the "_password" value.
void DeleteCredentials(const std::string& name);
