// The reader context through the built libnimbex.so, driven by the CSP host:
// the edge cases of the context handlers, media flags, services and their
// default containers, the key-creation probe and the cloud lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ChildProcess.h"
#include "ReaderContainerFixture.h"

namespace {

using csphost::Host;
using csphost::HostError;
using csphost::Session;

class ReaderContext : public nimbex_test::ReaderContainerFixture {
  protected:
    // "alpha" (machine-wide), then "beta" and "broken" (per user).
    void ThreeServices() {
        SaveServerSettings(
            ServerSettings("alpha", "https://alpha.invalid/auth/", "https://alpha.invalid/s/"),
            true);
        SaveServerSettings(
            ServerSettings("beta", "https://beta.invalid/auth/", "https://beta.invalid/s/"), false);
        ServerSettings broken;  // as a hand-edited registry may hold it
        broken.name = "broken";
        broken.authUrl = "not a url";
        broken.restUrl = "https://broken.invalid/s/";
        SaveServerSettings(broken, false);
    }
};

TEST_F(ReaderContext, EdgeCasesOfTheContextHandlers) {
    ThreeServices();
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open(size_t(0));
    static const char kText[] = "demo";
    const uintptr_t text = reinterpret_cast<uintptr_t>(kText);
    ExpectAnswers(host, session,
                  {
                      {"select the count", CLOUD_SELECT_SERVICE, {3}, 2},
                      {"select the selected", CLOUD_SELECT_SERVICE, {0}, 0},
                      {"select a malformed entry", CLOUD_SELECT_SERVICE, {2}, 0x80090020},
                      {"media info 4", CLOUD_GET_MEDIA_INFO, {4, 0}, 0x80090029},
                      {"media info 7, bad version", CLOUD_GET_MEDIA_INFO, {7, 0x21}, 0x80090029},
                      {"media info 7, no container", CLOUD_GET_MEDIA_INFO, {7, 0x31}, 0x252D1230},
                      {"param 11, null text", CLOUD_SET_MEDIA_PARAM, {11, 4, 0}, 87},
                      {"param 12, zero length", CLOUD_SET_MEDIA_PARAM, {12, 0, text}, 87},
                      {"param 17", CLOUD_SET_MEDIA_PARAM, {17, 4, text}, 0x80090029},
                      {"param 8", CLOUD_SET_MEDIA_PARAM, {8, 4, text}, 0x80090029},
                      {"param 9, no container", CLOUD_SET_MEDIA_PARAM, {9, 0, text}, 0x252D1303},
                      {"param 13, no container", CLOUD_SET_MEDIA_PARAM, {13, 4, text}, 0x252D1303},
                      {"param 11, no container", CLOUD_SET_MEDIA_PARAM, {11, 4, text}, 0x252D1303},
                      {"lock, null record", CLOUD_LOCK_READER, {}, 0},
                      {"count, null record", CLOUD_COUNT_SERVICES, {}, 87},
                      {"callbacks, null record", CLOUD_SET_CALLBACKS, {}, 87},
                      {"create, null record", CLOUD_CREATE_CONTEXT, {}, 87},
                      {"clone, null record", CLOUD_CLONE_CONTEXT, {}, 87},
                  });
    // The failed selection left the first one in place.
    EXPECT_EQ(session.ServiceName(), "alpha");
    EXPECT_TRUE(TheLockIsFree(host)) << "taken by the null record";
}

TEST_F(ReaderContext, MediaFlags) {
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open();
    struct Case {
        uintptr_t subCode, in, out;
    } cases[] = {
        {3, 0, 0x2752},       // bits 1, 4, 6 of the low byte; 0x27 into the next
        {3, 0xFFFF, 0xFFDA},  // bits 0, 2, 5 cleared; 3 and 7 kept
        {5, 0x1234, 4},      {6, 0x10, 0x0F}, {6, 0xABF0, 0xABEF},
    };
    for (const Case& c : cases) {
        CloudMediaInfoRecord record{c.subCode, c.in};
        EXPECT_EQ(host.module().Call(CLOUD_GET_MEDIA_INFO, session.context(), &record), 0u);
        EXPECT_EQ(record.value, c.out) << c.subCode << " " << std::hex << c.in;
    }
    SetModuleOption(kOptionEnableKeyCreation, 0);
    EXPECT_FALSE(host.Open().CanCreateKeys());
}

TEST_F(ReaderContext, ServicesAndDefaultContainers) {
    Host host(NIMBEX_MODULE_PATH, Options());
    EXPECT_EQ(host.Open().ServiceCount(), 0u);  // answered 2
    EXPECT_THROW(host.Open().Select(0), HostError);

    SaveServerSettings(
        ServerSettings("beta", "https://beta.invalid/auth/", "https://beta.invalid/s/"), false);
    SaveServerSettings(
        ServerSettings("alpha", "https://alpha.invalid/auth/", "https://alpha.invalid/s/"), true);
    // Machine-wide entries first.
    EXPECT_EQ(host.ServiceNames(), (std::vector<std::string>{"alpha", "beta"}));
    Session session = host.Open(std::string("beta"));
    EXPECT_EQ(session.DefaultContainer(), "");
    session.SetDefaultContainer("KEL-one");
    EXPECT_EQ(GetDefaultContainer("beta"), "KEL-one");
    // At most `length` bytes of the text are taken.
    CloudDefaultContainerRecord cut{3, "KEL-two"};
    EXPECT_EQ(host.module().Call(CLOUD_SET_DEFAULT_CONTAINER, session.context(), &cut), 0u);
    EXPECT_EQ(session.DefaultContainer(), "KEL");

    char small[3];
    CloudSizeBufferRecord record{sizeof small, small};
    EXPECT_EQ(host.module().Call(CLOUD_GET_DEFAULT_CONTAINER, session.context(), &record), 234u);
    EXPECT_EQ(record.size, 3u);
    CloudSizeBufferRecord noBuffer{sizeof small, nullptr};
    EXPECT_EQ(host.module().Call(CLOUD_GET_DEFAULT_CONTAINER, session.context(), &noBuffer), 234u);
    // A copy lists the services again and starts with none selected.
    Session copy = session.Clone();
    EXPECT_EQ(copy.ServiceCount(), 2u);
    EXPECT_EQ(copy.ServiceName(), "");
}

TEST_F(ReaderContext, KeyCreationAskedOfTheServicesOnceAndKeptByCopies) {
    setenv("NIMBEX_CA_FILE", service.caFile().c_str(), 1);
    const nimbex_test::LocalServiceUrls& v1 = service.service("local-v1");
    SaveServerSettings(ServerSettings("local-v1", v1.auth, v1.sign), true);
    SaveServerSettings(ServerSettings("gone", v1.auth, "https://127.0.0.1:1/gone/"), true);
    Host host(NIMBEX_MODULE_PATH, Options());
    const std::vector<std::string> names = host.ServiceNames();
    ASSERT_EQ(names.size(), 2u);
    const size_t v1Index = names[0] == "local-v1" ? 0 : 1, goneIndex = 1 - v1Index;
    EXPECT_TRUE(host.Open(goneIndex).CanCreateKeys());  // not asked: as loaded
    EXPECT_TRUE(service.requestLog().empty());

    SetModuleOption(kOptionGetServerOptionsOnline, 1);
    Session session = host.Open();
    const Json::Value log = service.requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["target"].asString(), "/local-v1/rest/api/apiversion");
    session.Select(v1Index);
    EXPECT_TRUE(session.CanCreateKeys());
    session.Select(goneIndex);
    EXPECT_FALSE(session.CanCreateKeys()) << "an unreachable service has no API version";

    Session copy = session.Clone();
    EXPECT_EQ(service.requestLog().size(), 1u);
    copy.Select(goneIndex);
    EXPECT_FALSE(copy.CanCreateKeys());
    copy.Select(v1Index);
    EXPECT_TRUE(copy.CanCreateKeys());
}

TEST_F(ReaderContext, TheCloudLockExcludesAnotherProcess) {
    nimbex_test::ReadyPipe childWaits, childLocked;
    ASSERT_TRUE(childWaits.Open() && childLocked.Open());
    int release[2];
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Nothing of the module was loaded before the fork.
        close(release[1]);
        char byte;
        if (read(release[0], &byte, 1) != 1) _exit(3);  // the parent holds the lock
        try {
            Host host(NIMBEX_MODULE_PATH);
            Session session = host.Open();
            childWaits.Signal();
            session.Lock();
            childLocked.Signal();
            session.Unlock();
        } catch (const HostError&) {
            _exit(2);
        }
        _exit(0);
    }
    close(release[0]);
    Host host(NIMBEX_MODULE_PATH, Options());
    Session session = host.Open();
    session.Lock();
    ASSERT_EQ(write(release[1], "x", 1), 1);
    ASSERT_TRUE(childWaits.Wait());
    // The child is blocked while the lock is held here.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the child got past a held lock";
    session.Unlock();
    EXPECT_TRUE(childLocked.Wait());
    status = nimbex_test::WaitExit(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(release[1]);
}

}  // namespace
