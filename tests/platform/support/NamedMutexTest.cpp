// Named mutexes across processes and threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <support/support.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "TempEnv.h"

namespace {

using namespace std::chrono_literals;
using nimbex_test::WaitExit;

// Adds one to the counter in the shared file, slowly enough that two holders
// inside at once lose an update.
bool SlowIncrement(int fd) {
    int32_t counter = 0;
    if (pread(fd, &counter, sizeof counter, 0) != sizeof counter) return false;
    std::this_thread::sleep_for(200us);
    ++counter;
    return pwrite(fd, &counter, sizeof counter, 0) == sizeof counter;
}

TEST(NamedMutexTest, TwoProcessesTakeTurns) {
    nimbex_test::TempEnv env;
    std::string shared = env.root() + "/counter";
    int fd = open(shared.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const int32_t zero = 0;
    ASSERT_EQ(pwrite(fd, &zero, sizeof zero, 0), static_cast<ssize_t>(sizeof zero));
    constexpr int kRounds = 200;
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ubi_mutex_t* mutex = nullptr;
            if (ubi_mutex_open(&mutex, "cloud_lock", 0) != 0) _exit(2);
            for (int round = 0; round < kRounds; ++round) {
                if (ubi_mutex_lock(mutex) != 0) _exit(3);
                if (!SlowIncrement(fd)) _exit(1);
                if (ubi_mutex_unlock(mutex) != 0) _exit(4);
            }
            ubi_mutex_close(mutex);
            _exit(0);
        }
        children[i] = pid;
    }
    for (pid_t pid : children) {
        int status = WaitExit(pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    int32_t counter = 0;
    ASSERT_EQ(pread(fd, &counter, sizeof counter, 0), static_cast<ssize_t>(sizeof counter));
    EXPECT_EQ(counter, 2 * kRounds) << "updates lost: two holders were inside at once";
    close(fd);
}

TEST(NamedMutexTest, KilledHolderReleasesIt) {
    nimbex_test::TempEnv env;
    nimbex_test::ReadyPipe ready;
    ASSERT_TRUE(ready.Open());
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ubi_mutex_t* mutex = nullptr;
        if (ubi_mutex_open(&mutex, "cloud_lock", 0) != 0 || ubi_mutex_lock(mutex) != 0) _exit(2);
        if (!ready.Signal()) _exit(3);
        for (;;) pause();
    }
    ASSERT_TRUE(ready.Wait());

    ubi_mutex_t* mutex = nullptr;
    ASSERT_EQ(ubi_mutex_open(&mutex, "cloud_lock", 0), 0u);
    auto taken = std::async(std::launch::async, [mutex] { return ubi_mutex_lock(mutex); });
    EXPECT_EQ(taken.wait_for(300ms), std::future_status::timeout);  // the child holds it
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    WaitExit(pid);
    ASSERT_EQ(taken.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(taken.get(), 0u);
    EXPECT_EQ(ubi_mutex_unlock(mutex), 0u);
    EXPECT_EQ(ubi_mutex_close(mutex), 0u);
}

TEST(NamedMutexTest, ThreadsExcludeEachOtherThroughOneOrSeveralHandles) {
    nimbex_test::TempEnv env;
    ubi_mutex_t* shared = nullptr;
    ASSERT_EQ(ubi_mutex_open(&shared, "threads", 0), 0u);
    std::atomic<bool> inside{false};
    std::atomic<int> overlaps{0};
    int counter = 0;  // guarded by the mutex only
    auto work = [&](ubi_mutex_t* handle) {
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(ubi_mutex_lock(handle), 0u);
            if (inside.exchange(true)) ++overlaps;
            int seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
            inside = false;
            ASSERT_EQ(ubi_mutex_unlock(handle), 0u);
        }
    };
    std::vector<ubi_mutex_t*> own(2, nullptr);
    for (auto& handle : own) ASSERT_EQ(ubi_mutex_open(&handle, "threads", 0), 0u);
    std::vector<std::thread> threads;
    for (ubi_mutex_t* handle : {shared, shared, own[0], own[1]}) threads.emplace_back(work, handle);
    for (auto& t : threads) t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counter, 4 * 300);
    for (auto* handle : own) EXPECT_EQ(ubi_mutex_close(handle), 0u);
    EXPECT_EQ(ubi_mutex_close(shared), 0u);
}

TEST(NamedMutexTest, NamesAndOwnership) {
    nimbex_test::TempEnv env;
    ubi_mutex_t* mutex = reinterpret_cast<ubi_mutex_t*>(1);
    for (const char* bad : {"a/b", "", "..", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(ubi_mutex_open(&mutex, bad, 0), SUP_INVALID_PARAMETER) << (bad ? bad : "null");
        EXPECT_EQ(mutex, nullptr);
    }

    ASSERT_EQ(ubi_mutex_open(&mutex, "cloud_lock", 0), 0u);
    EXPECT_NE(ubi_mutex_unlock(mutex), 0u);  // not held
    ASSERT_EQ(ubi_mutex_lock(mutex), 0u);
    EXPECT_EQ(ubi_mutex_lock(mutex), 1131u);  // not recursive: refused rather than hung
    // Closing a held handle releases the mutex for the others.
    ASSERT_EQ(ubi_mutex_close(mutex), 0u);
    ubi_mutex_t* other = nullptr;
    ASSERT_EQ(ubi_mutex_open(&other, "cloud_lock", 0), 0u);
    auto taken = std::async(std::launch::async, [other] { return ubi_mutex_lock(other); });
    ASSERT_EQ(taken.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(taken.get(), 0u);
    EXPECT_EQ(ubi_mutex_unlock(other), 0u);
    EXPECT_EQ(ubi_mutex_close(other), 0u);

    struct stat st;
    ASSERT_EQ(stat(env.runtimeDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(NamedMutexTest, RuntimeDirectoryOpenToOthersIsRefused) {
    nimbex_test::TempEnv env;
    std::string open = env.root() + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    setenv("NIMBEX_RUNTIME_DIR", open.c_str(), 1);
    ubi_mutex_t* mutex = nullptr;
    EXPECT_EQ(ubi_mutex_open(&mutex, "cloud_lock", 0), 5u);
    std::string fresh = env.root() + "/fresh/run";
    setenv("NIMBEX_RUNTIME_DIR", fresh.c_str(), 1);
    ASSERT_EQ(ubi_mutex_open(&mutex, "cloud_lock", 0), 0u);
    EXPECT_EQ(ubi_mutex_close(mutex), 0u);
}

}  // namespace
