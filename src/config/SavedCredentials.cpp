#include "config/SavedCredentials.h"

#include <algorithm>
#include <vector>

#include "base/Wipe.h"
#include "config/RegistryAccess.h"

const char kSavedCredentialsSection[] = "\\local\\KeyDevices\\CloudPasswords\\";

namespace {

std::string SecretPath(const std::string& key) {
    return kSavedCredentialsSection + key;
}

}  // namespace

void SaveSecret(const std::string& key, const SecretString& text) {
    // c_str() is followed by its NUL, which is stored with the text.
    RegPutHex(SecretPath(key), text.c_str(), text.size() + 1);
}

SecretString LoadSecret(const std::string& key) {
    // The registry hands the bytes over in a std::vector: wiped here on every path.
    std::vector<unsigned char> bytes;
    struct WipeBytesOnExit {
        std::vector<unsigned char>& bytes;
        ~WipeBytesOnExit() { WipeVector(bytes); }
    } wipeBytes{bytes};
    if (!RegGetHex(SecretPath(key), bytes)) return SecretString();
    return SecretString(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
}

void DeleteSecret(const std::string& key) {
    RegDeleteParam(SecretPath(key));
}

void SaveUserName(const std::string& name, const SecretString& userName) {
    SaveSecret(name + "_username", userName);
}

void SavePassword(const std::string& name, const SecretString& password) {
    SaveSecret(name + "_password", password);
}

SecretString LoadUserName(const std::string& name) {
    return LoadSecret(name + "_username");
}

SecretString LoadPassword(const std::string& name) {
    return LoadSecret(name + "_password");
}

void DeleteCredentials(const std::string& name) {
    DeleteSecret(name + "_username");
    DeleteSecret(name + "_password");
}
