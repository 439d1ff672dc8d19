#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>

// The service's policy: parameter sets allowed per provider type, and which
// actions need an out-of-band confirmation.
struct ServerPolicy {
    std::map<uint32_t, std::set<std::string>> paramSets;
    std::map<std::string, bool> mfaByAction;
    bool loaded = false;
};
