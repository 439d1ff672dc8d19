// The registry shared by several processes, and a writer killed mid-write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <support/support.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "ChildProcess.h"
#include "TempEnv.h"

namespace {

using nimbex_test::WaitExit;

std::string ValueText(int writer, int index) {
    // Lengths vary so that pages of different sizes are written.
    return std::to_string(writer) + ":" + std::to_string(index) + ":" +
           std::string(static_cast<size_t>(index % 97) * 13, static_cast<char>('a' + writer));
}

TEST(RegistryProcessTest, TwoProcessesWritingAtOnceLoseNothing) {
    nimbex_test::TempEnv env;
    // The parent's own connection is open before the fork; the children must
    // not reuse it.
    ASSERT_EQ(support_registry_put_section("\\config\\Race"), 0u);
    constexpr int kValues = 500;
    int start[2];  // both children wait here, so that their writes overlap
    ASSERT_EQ(pipe(start), 0);
    pid_t children[2];
    for (int writer = 0; writer < 2; ++writer) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(start[1]);
            char byte;
            if (read(start[0], &byte, 1) != 0) _exit(2);
            int failures = 0;
            for (int i = 0; i < kValues; ++i) {
                const std::string w = "\\Race\\W" + std::to_string(writer) + "\\v";
                const std::string path = "\\config" + w + std::to_string(i);
                if (support_registry_put_string(path.c_str(), ValueText(writer, i).c_str()) != 0)
                    ++failures;
                if (support_registry_put_long("\\config\\Race\\Shared", i) != 0) ++failures;
                // Both children create the per-user store at once.
                if (i < 50 &&
                    support_registry_put_long(("\\local" + w + std::to_string(i)).c_str(), i))
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children[writer] = pid;
    }
    close(start[0]);
    close(start[1]);  // end of file releases both children at once
    for (pid_t pid : children) {
        int status = WaitExit(pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    for (int writer = 0; writer < 2; ++writer) {
        const std::string w = "\\Race\\W" + std::to_string(writer) + "\\v";
        for (int i = 0; i < kValues; ++i) {
            const std::string path = "\\config" + w + std::to_string(i);
            std::string text(ValueText(writer, i).size() + 1, '\0');
            size_t length = text.size();
            ASSERT_EQ(support_registry_get_string(path.c_str(), &length, text.data()), 0u) << path;
            EXPECT_EQ(text.substr(0, length), ValueText(writer, i));
            int32_t value = -1;
            if (i >= 50) continue;
            ASSERT_EQ(
                support_registry_get_long(("\\local" + w + std::to_string(i)).c_str(), &value), 0u);
            EXPECT_EQ(value, i);
        }
    }
    int32_t last = 0;
    ASSERT_EQ(support_registry_get_long("\\config\\Race\\Shared", &last), 0u);
    EXPECT_EQ(last, kValues - 1);
}

TEST(RegistryProcessTest, WriterKilledMidWriteLeavesAConsistentStore) {
    nimbex_test::TempEnv env;
    nimbex_test::ReadyPipe ready;
    ASSERT_TRUE(ready.Open());
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (int i = 0;; ++i) {
            std::string path = "\\local\\Crash\\v" + std::to_string(i);
            std::string text = ValueText(1, i);
            if (support_registry_put_hex(path.c_str(), text.size(), text.data()) != 0) _exit(3);
            if (i == 50 && !ready.Signal()) _exit(4);
        }
    }
    ASSERT_TRUE(ready.Wait());
    struct timespec pause = {0, 30 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = WaitExit(pid);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The file passes SQLite's own check...
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((env.userDir() + "/registry.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);

    // ...and the values written are exactly a complete prefix of the sequence.
    TSupRegSearch* handle = nullptr;
    size_t count = 0;
    ASSERT_EQ(support_registry_search_open("\\local\\Crash", &handle, &count, 0), 0u);
    support_registry_search_close(handle);
    ASSERT_GT(count, 50u);
    for (size_t i = 0; i < count; ++i) {
        std::string path = "\\local\\Crash\\v" + std::to_string(i);
        std::string expected = ValueText(1, static_cast<int>(i));
        std::string buffer(expected.size() + 10, '\0');
        size_t length = buffer.size();
        ASSERT_EQ(support_registry_get_hex(path.c_str(), &length, buffer.data()), 0u) << path;
        EXPECT_EQ(buffer.substr(0, length), expected);
    }
    // And the store is writable again.
    EXPECT_EQ(support_registry_put_long("\\local\\Crash\\after", 1), 0u);
}

}  // namespace
