#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstring>
#include <map>

#include "TempEnv.h"
#include "auth/AuthTokenRegistrySaver.h"
#include "auth/AuthTokenSaverLocalCtx.h"
#include "config/RegistryAccess.h"
#include "config/SavedCredentials.h"

namespace {

// A protected store kept by the test, reached through callback words 11-13.
struct TestStore {
    std::map<std::pair<uintptr_t, std::string>, std::vector<unsigned char>> values;
    std::vector<std::string> calls;
    uintptr_t lastHandle = 0;
    uintptr_t lastContextWord7 = 0;
    bool failGet = false;
};
TestStore* g_store = nullptr;

uint32_t StoreSet(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t w7,
                  uintptr_t handle, uintptr_t machine, const char* name, const unsigned char* value,
                  uintptr_t length) {
    g_store->lastHandle = handle;
    g_store->lastContextWord7 = w7;
    g_store->calls.push_back("set " + std::string(name) + " " + std::to_string(length));
    g_store->values[{machine, name}].assign(value, value + length);
    return 0;
}

uint32_t StoreGet(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                  uintptr_t, uintptr_t machine, const char* name, unsigned char* buffer,
                  uint32_t* length) {
    g_store->calls.push_back(std::string("get ") + name + (buffer ? " buffer" : " size"));
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

uint32_t StoreDelete(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                     uintptr_t, uintptr_t machine, const char* name) {
    g_store->calls.push_back("delete " + std::string(name));
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

}  // namespace

TEST_F(SaverTest, LocalContextSaverKeepsAllTokensInTheStore) {
    AuthTokenSaverLocalCtx saver("https://auth.test/idp", &protectedStore, 1);
    saver.SaveAuthToken("acc");
    saver.SaveIdToken("idt");
    saver.SaveConfToken("conf");
    EXPECT_EQ(store.calls,
              (std::vector<std::string>{"set https://auth.test/idp_auth_token_magic 4",
                                        "set https://auth.test/idp_id_token_magic 4",
                                        "set https://auth.test/idp_conf_token_magic 5"}));
    EXPECT_EQ(store.lastHandle, 0xABCu);
    EXPECT_EQ(store.lastContextWord7, 77u);
    // Stored with the terminating NUL, in the machine scope.
    EXPECT_EQ(store.values[std::make_pair(uintptr_t{1},
                                          std::string("https://auth.test/idp_auth_token_magic"))],
              (std::vector<unsigned char>{'a', 'c', 'c', 0}));
    EXPECT_EQ(saver.LoadAuthToken(), "acc");
    EXPECT_EQ(saver.LoadIdToken(), "idt");
    EXPECT_EQ(saver.LoadConfToken(), "conf");

    // The user scope is another store.
    AuthTokenSaverLocalCtx user("https://auth.test/idp", &protectedStore, 0);
    EXPECT_EQ(user.LoadAuthToken(), "");

    saver.SaveAuthToken("");
    EXPECT_EQ(store.calls.back(), "delete https://auth.test/idp_auth_token_magic");
    EXPECT_EQ(saver.LoadAuthToken(), "");
    saver.SaveConfToken("");
    EXPECT_EQ(saver.LoadConfToken(), "");
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

TEST_F(SaverTest, SaversWithoutStoreKeepNothingThere) {
    AuthTokenSaverLocalCtx local("p", nullptr, 0);
    local.SaveAuthToken("acc");
    local.SaveConfToken("conf");
    EXPECT_EQ(local.LoadAuthToken(), "");
    EXPECT_EQ(local.LoadConfToken(), "");

    AuthTokenRegistrySaver registry("Service A", nullptr, 0);
    registry.SaveConfToken("conf");
    EXPECT_EQ(registry.LoadConfToken(), "");
    registry.SaveAuthToken("acc");
    registry.SaveIdToken("idt");
    EXPECT_EQ(registry.LoadAuthToken(), "acc");
    EXPECT_EQ(registry.LoadIdToken(), "idt");
    EXPECT_TRUE(store.calls.empty());
}

TEST_F(SaverTest, RegistrySaverUsesSavedCredentialsAndTheStoreForConfTokens) {
    AuthTokenRegistrySaver saver("Service A", &protectedStore, 0);
    saver.SaveAuthToken("acc");
    saver.SaveIdToken("idt");
    saver.SaveConfToken("conf");
    EXPECT_EQ(LoadSecret("Service A_access_token"), "acc");
    EXPECT_EQ(LoadSecret("Service A_id_token"), "idt");
    std::vector<unsigned char> raw;
    ASSERT_TRUE(RegGetHex("\\local\\KeyDevices\\CloudPasswords\\Service A_access_token", raw));
    EXPECT_EQ(raw, (std::vector<unsigned char>{'a', 'c', 'c', 0}));
    EXPECT_EQ(store.calls, (std::vector<std::string>{"set Service A_conf_token_magic 5"}));

    // A second saver over the same prefix sees the same values.
    AuthTokenRegistrySaver again("Service A", &protectedStore, 0);
    EXPECT_EQ(again.LoadAuthToken(), "acc");
    EXPECT_EQ(again.LoadIdToken(), "idt");
    EXPECT_EQ(again.LoadConfToken(), "conf");

    saver.SaveAuthToken("");
    saver.SaveIdToken("");
    EXPECT_EQ(again.LoadAuthToken(), "");
    EXPECT_EQ(again.LoadIdToken(), "");
    EXPECT_FALSE(RegGetHex("\\local\\KeyDevices\\CloudPasswords\\Service A_id_token", raw));
}

TEST_F(SaverTest, RegistrySaverReadsByPrefixAndName) {
    SaveSecret("S_access_token", "x");
    RegistrySaver reader("S");
    EXPECT_EQ(reader.Load("_access_token"), "x");
    EXPECT_EQ(reader.Load("_nothing"), "");
}
