#include "auth/RegistrySaver.h"

#include "config/SavedCredentials.h"

std::string RegistrySaver::Load(const std::string& name) {
    return LoadSecret(prefix_ + name);
}
