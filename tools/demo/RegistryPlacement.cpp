#include "RegistryPlacement.h"

#include <stdlib.h>
#include <sys/stat.h>

RegistryPlacement::RegistryPlacement(const std::string& scratch) {
    const struct {
        const char* variable;
        const char* sub;
    } kPlaces[] = {{"NIMBEX_MACHINE_DIR", "machine"},
                   {"NIMBEX_USER_DIR", "user"},
                   {"NIMBEX_RUNTIME_DIR", "run"}};
    for (const auto& p : kPlaces) {
        Place place;
        place.variable = p.variable;
        const char* set = getenv(p.variable);
        if (set && *set) {
            place.directory = set;
            place.userSet = true;
        } else {
            place.directory = scratch + "/" + p.sub;
            mkdir(place.directory.c_str(), 0700);
            setenv(p.variable, place.directory.c_str(), 1);
        }
        places_.push_back(place);
    }
}

RegistryPlacement::~RegistryPlacement() {
    for (const Place& p : places_)
        if (!p.userSet) unsetenv(p.variable.c_str());
}

bool RegistryPlacement::UsesUserRegistry() const {
    for (const Place& p : places_)
        if (p.userSet && p.variable != "NIMBEX_RUNTIME_DIR") return true;
    return false;
}
