#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "TempEnv.h"
#include "auth/BrowserRunner.h"

namespace {

// Writes an executable shell script and returns its path.
std::string Script(const nimbex_test::TempDir& dir, const std::string& name,
                   const std::string& body) {
    const std::string path = dir.path() + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
}

// True once the process has ended: no such process, or a zombie that is not
// ours (a grandchild left to the system). Waits a little, as a killed
// process takes a moment to go.
bool Gone(pid_t pid) {
    for (int i = 0; i < 250; ++i) {
        if (kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string number, name;
        char state = 0;
        if (stat >> number >> name >> state && state == 'Z') return true;
        usleep(20000);
    }
    return false;
}

}  // namespace

TEST(BrowserRunner, RunsTheCommandLineAsTheShellDoes) {
    nimbex_test::TempDir dir;
    const std::string app = Script(
        dir, "app", "printf 'v=%s&args=%s\\r\\r\\n' \"$NIMBEX_RUNNER_VALUE\" \"$*\"; echo 2");
    const std::string wrapper = Script(dir, "wrap", "exec \"$(dirname \"$0\")/app\" \"$@\"");
    struct Case {
        const char* what;
        std::string command;
        bool answered;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"program and quoted URL", app + " \"https://x/y?q=1&r=2\"", true,
         "v=&args=https://x/y?q=1&r=2"},
        {"environment assignment first", "NIMBEX_RUNNER_VALUE=set " + app + " \"u\"", true,
         "v=set&args=u"},
        {"change of directory first", "cd '" + dir.path() + "' && ./app \"u\"", true, "v=&args=u"},
        {"wrapper with arguments", wrapper + " --profile test \"u\"", true,
         "v=&args=--profile test u"},
        {"last line without a line end", "printf 'k=v'", true, "k=v"},
        {"long line", "head -c 20000 /dev/zero | tr '\\0' x; echo", true,
         std::string(kBrowserMaxLine, 'x')},
        {"binary line", "printf 'a\\000b\\377\\n'", true, std::string("a\0b\xff", 4)},
        {"nothing written", "exit 3", false, ""},
        {"missing program", dir.path() + "/missing \"u\"", false, ""},
        {"not a program", app + "/not-a-dir", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out = "untouched";
        EXPECT_EQ(RunBrowserCommand(c.command, out, 10000), c.answered);
        EXPECT_EQ(out, c.answered ? c.output : "untouched");
    }
}

TEST(BrowserRunner, ApplicationIsEndedAndReaped) {
    nimbex_test::TempDir dir;
    const std::string pids = dir.path() + "/pids";
    // Each command writes the shell's process id, then that of a child it
    // keeps running, to `pids`; a shell that notes SIGTERM adds a 0 there.
    const std::string shell = "echo $$ >> '" + pids + "'; ";
    const std::string child = "sleep 30 & echo $! >> '" + pids + "'; wait";
    const std::string noteTerm = "trap 'echo 0 >> \"" + pids + "\"; exit 1' TERM; ";
    // Short graces; a long SIGTERM grace costs nothing when the application
    // ends on SIGTERM, and lets a slow machine run the shell's trap.
    const BrowserLimits answers{10000, 200, 5000};
    const BrowserLimits ignoring{10000, 200, 200};
    const BrowserLimits silent{1000, 200, 5000};
    struct Case {
        const char* what;
        std::string command;
        BrowserLimits limits;
        bool answered;
        size_t processes;  // process ids written to `pids`
        bool termNoted;    // the shell noted SIGTERM
    };
    const std::vector<Case> cases = {
        {"outlives its answer", noteTerm + shell + "echo done=1; " + child, answers, true, 2, true},
        {"ignores SIGTERM", "trap '' TERM; " + shell + "echo done=1; " + child, ignoring, true, 2,
         false},
        {"writes nothing", noteTerm + shell + child, silent, false, 2, true},
        {"writes half a line", shell + "printf half; " + child, silent, false, 2, false},
        {"ends without a line", shell + "exit 3", answers, false, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(pids.c_str());
        std::string out;
        EXPECT_EQ(RunBrowserCommand(c.command, out, c.limits), c.answered);
        EXPECT_EQ(out, c.answered ? "done=1" : "");
        std::vector<pid_t> started;
        bool termNoted = false;
        std::ifstream list(pids);
        for (pid_t pid; list >> pid;) {
            if (pid == 0) termNoted = true;
            if (pid != 0) started.push_back(pid);
        }
        ASSERT_EQ(started.size(), c.processes);
        EXPECT_EQ(termNoted, c.termNoted);
        // The shell was our child and has been reaped; the child it started is gone.
        errno = 0;
        EXPECT_EQ(waitpid(started[0], nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
        for (pid_t pid : started) EXPECT_TRUE(Gone(pid)) << pid;
    }
}

TEST(BrowserCommandTest, QuotesTheUrlUnescaped) {
    EXPECT_EQ("/opt/app/auth \"https://a/oauth/authorize?x=1&y=\"\"",
              MakeBrowserCommand("/opt/app/auth", "https://a/oauth/authorize?x=1&y=\""));
}
