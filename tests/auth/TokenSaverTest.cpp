#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "TempEnv.h"
#include "auth/AuthTokenRegistrySaver.h"
#include "auth/AuthTokenSaverLocalCtx.h"
#include "config/SavedCredentials.h"

namespace {

// A protected store kept by the test, reached through callback words 11-13. Every set and
// delete is noted as "set|delete <scope> <name> [<length>]" with the handle and the seventh
// word of the caller's context.
struct TestStore {
    std::map<std::pair<uintptr_t, std::string>, std::vector<unsigned char>> values;
    std::string changes;
    bool failGet = false;
};
TestStore* g_store = nullptr;

void Note(const std::string& change, uintptr_t w7, uintptr_t handle) {
    if (!g_store->changes.empty()) g_store->changes += ", ";
    g_store->changes += change + (w7 == 77 && handle == 0xABC ? "" : " (wrong context)");
}

uint32_t StoreSet(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t w7,
                  uintptr_t handle, uintptr_t machine, const char* name, const unsigned char* value,
                  uintptr_t length) {
    Note("set " + std::to_string(machine) + " " + name + " " + std::to_string(length), w7, handle);
    g_store->values[{machine, name}].assign(value, value + length);
    return 0;
}

uint32_t StoreGet(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                  uintptr_t, uintptr_t machine, const char* name, unsigned char* buffer,
                  uint32_t* length) {
    if (g_store->failGet) return 5;
    auto it = g_store->values.find({machine, name});
    if (it == g_store->values.end()) return 2;
    if (buffer) {
        if (*length < it->second.size()) return 234;
        std::memcpy(buffer, it->second.data(), it->second.size());
    }
    *length = static_cast<uint32_t>(it->second.size());
    return 0;
}

uint32_t StoreDelete(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t w7,
                     uintptr_t handle, uintptr_t machine, const char* name) {
    Note("delete " + std::to_string(machine) + " " + name, w7, handle);
    g_store->values.erase({machine, name});
    return 0;
}

class SaverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_store = &store;
        protectedStore.host.caller.words[6] = 77;
        protectedStore.host.callbacks.storeSet = StoreSet;
        protectedStore.host.callbacks.storeGet = StoreGet;
        protectedStore.host.callbacks.storeDelete = StoreDelete;
        protectedStore.handle = 0xABC;
    }
    void TearDown() override { g_store = nullptr; }

    nimbex_test::TempEnv env;
    TestStore store;
    ProtectedStore protectedStore{};
};

// The three tokens a saver hands back, joined by "|".
std::string Loaded(AuthTokenSaver& s) {
    return std::string(s.LoadAuthToken() + "|" + s.LoadIdToken() + "|" + s.LoadConfToken());
}

}  // namespace

TEST_F(SaverTest, WhereEachSaverKeepsTheTokens) {
    const ProtectedStore* ps = &protectedStore;
    struct Case {
        const char* what;
        std::function<std::unique_ptr<AuthTokenSaver>()> make;
        std::string loaded;   // what another saver over the same place reads back
        std::string changes;  // the protected-store changes of the three saves
    };
    const std::vector<Case> cases = {
        {"local context, machine scope",
         [&] { return std::make_unique<AuthTokenSaverLocalCtx>("p", ps, 1); }, "acc|idt|conf",
         "set 1 p_auth_token_magic 4, set 1 p_id_token_magic 4, set 1 p_conf_token_magic 5"},
        {"local context, user scope",
         [&] { return std::make_unique<AuthTokenSaverLocalCtx>("p", ps, 0); }, "acc|idt|conf",
         "set 0 p_auth_token_magic 4, set 0 p_id_token_magic 4, set 0 p_conf_token_magic 5"},
        {"registry with a protected store",
         [&] { return std::make_unique<AuthTokenRegistrySaver>("S", ps, 0); }, "acc|idt|conf",
         "set 0 S_conf_token_magic 5"},
        {"registry without a protected store",
         [] { return std::make_unique<AuthTokenRegistrySaver>("S", nullptr, 0); }, "acc|idt|", ""},
        {"local context without a protected store",
         [] { return std::make_unique<AuthTokenSaverLocalCtx>("p", nullptr, 0); }, "||", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.values.clear();
        store.changes.clear();
        auto saver = c.make();
        saver->SaveAuthToken("acc");
        saver->SaveIdToken("idt");
        saver->SaveConfToken("conf");
        EXPECT_EQ(store.changes, c.changes);
        EXPECT_EQ(Loaded(*c.make()), c.loaded);
        // Saving empty tokens erases them.
        saver->SaveAuthToken("");
        saver->SaveIdToken("");
        saver->SaveConfToken("");
        EXPECT_EQ(Loaded(*c.make()), "||");
        EXPECT_TRUE(store.values.empty());
    }
    // Stored with the terminating NUL; the registry saver's are saved credentials.
    AuthTokenSaverLocalCtx("p", ps, 1).SaveAuthToken("acc");
    EXPECT_EQ(store.values[std::make_pair(uintptr_t{1}, std::string("p_auth_token_magic"))],
              (std::vector<unsigned char>{'a', 'c', 'c', 0}));
    AuthTokenRegistrySaver("S", nullptr, 0).SaveIdToken("idt");
    EXPECT_EQ(LoadSecret("S_id_token"), "idt");
}

TEST_F(SaverTest, FailedReadGivesAnEmptyToken) {
    AuthTokenSaverLocalCtx saver("p", &protectedStore, 0);
    saver.SaveIdToken("idt");
    store.failGet = true;
    EXPECT_EQ(saver.LoadIdToken(), "");
    store.failGet = false;
    // A stored value without NUL is read to its end; one with an inner NUL up to it.
    store.values[std::make_pair(uintptr_t{0}, std::string("p_id_token_magic"))] = {'a', 'b'};
    EXPECT_EQ(saver.LoadIdToken(), "ab");
    store.values[std::make_pair(uintptr_t{0}, std::string("p_id_token_magic"))] = {'a', 0, 'b', 0};
    EXPECT_EQ(saver.LoadIdToken(), "a");
}
