#include "auth/RegistrySaver.h"

#include "config/SavedCredentials.h"

SecretString RegistrySaver::Load(const std::string& name) {
    return LoadSecret(prefix_ + name);
}
