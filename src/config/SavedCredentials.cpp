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

// Wipes a byte vector when the scope ends, on every path.
class WipeVectorOnExit {
  public:
    explicit WipeVectorOnExit(std::vector<unsigned char>& v) : v_(v) {}
    ~WipeVectorOnExit() { WipeVector(v_); }
    WipeVectorOnExit(const WipeVectorOnExit&) = delete;
    WipeVectorOnExit& operator=(const WipeVectorOnExit&) = delete;

  private:
    std::vector<unsigned char>& v_;
};

}  // namespace

void SaveSecret(const std::string& key, const std::string& text) {
    // c_str() is followed by its NUL, which is stored with the text.
    RegPutHex(SecretPath(key), text.c_str(), text.size() + 1);
}

std::string LoadSecret(const std::string& key) {
    std::vector<unsigned char> bytes;
    WipeVectorOnExit wipeBytes(bytes);
    if (!RegGetHex(SecretPath(key), bytes)) return std::string();
    const auto end = std::find(bytes.begin(), bytes.end(), 0);
    std::string text(bytes.begin(), end);
    WipeOnExit wipeText(text);
    std::string result(text);
    return result;
}

void DeleteSecret(const std::string& key) {
    RegDeleteParam(SecretPath(key));
}

void SaveUserName(const std::string& name, const std::string& userName) {
    SaveSecret(name + "_username", userName);
}

void SavePassword(const std::string& name, const std::string& password) {
    SaveSecret(name + "_password", password);
}

std::string LoadUserName(const std::string& name) {
    return LoadSecret(name + "_username");
}

std::string LoadPassword(const std::string& name) {
    return LoadSecret(name + "_password");
}

void DeleteCredentials(const std::string& name) {
    DeleteSecret(name + "_username");
    DeleteSecret(name + "_password");
}
