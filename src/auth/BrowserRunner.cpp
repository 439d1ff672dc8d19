#include "auth/BrowserRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/Wipe.h"

extern char** environ;

namespace {

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

enum class ReadResult { kData, kEnd, kTimeout };

const size_t kReadChunk = 512;
// How often a run that waits for the shell to exit looks at it.
const int64_t kReapStepMs = 20;

// Waits until fd is readable or the deadline passes, then reads what is there.
ReadResult ReadSome(int fd, int64_t deadline, char* buffer, size_t size, size_t& got) {
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return ReadResult::kTimeout;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0) {
            if (errno == EINTR) continue;
            return ReadResult::kEnd;
        }
        if (r == 0) return ReadResult::kTimeout;
        const ssize_t n = read(fd, buffer, size);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return ReadResult::kEnd;
        }
        if (n == 0) return ReadResult::kEnd;
        got = static_cast<size_t>(n);
        return ReadResult::kData;
    }
}

// Reads one line ('\n' excluded) of at most `limit` characters. False when
// nothing at all arrived before the end or the deadline; timedOut tells which.
bool ReadLine(int fd, int64_t deadline, size_t limit, std::string& line, std::string& rest,
              bool& timedOut) {
    timedOut = false;
    char chunk[kReadChunk];
    for (;;) {
        const size_t nl = rest.find('\n');
        if (nl != std::string::npos || rest.size() >= limit) {
            const size_t len = nl == std::string::npos ? limit : (nl < limit ? nl : limit);
            line.assign(rest, 0, len);
            const size_t drop = (nl != std::string::npos && nl <= limit) ? nl + 1 : len;
            WipeBytes(&rest[0], drop);
            rest.erase(0, drop);
            return true;
        }
        size_t got = 0;
        const ReadResult r = ReadSome(fd, deadline, chunk, sizeof chunk, got);
        if (r == ReadResult::kData) {
            rest.append(chunk, got);
            WipeBytes(chunk, got);
            continue;
        }
        timedOut = r == ReadResult::kTimeout;
        if (rest.empty()) return false;
        line.swap(rest);
        WipeString(rest);
        return !timedOut;
    }
}

// The shell running the command line, in a process group of its own (the
// group's id is the shell's process id), its standard output on `output`.
struct Application {
    pid_t pid = -1;
    int output = -1;
    bool reaped = false;
    bool outputClosed = false;
};

bool Start(const std::string& command, Application& app) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // The write end becomes the shell's standard output (dup2 clears its
    // close-on-exec flag); both pipe ends are otherwise closed on exec, so no
    // other program started meanwhile keeps the pipe open.
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    // Its own process group, no blocked signals, and SIGTERM not ignored, so
    // that the whole application can be ended.
    sigset_t none, term;
    sigemptyset(&none);
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &term);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // The command line is handed over in place (it carries sign-in hints; no
    // copy of it is made here).
    char shell[] = "sh";
    char flag[] = "-c";
    char* const argv[] = {shell, flag, const_cast<char*>(command.c_str()), nullptr};
    const int rc = posix_spawn(&app.pid, "/bin/sh", &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    app.output = fds[0];
    return true;
}

// Reaps the shell when it has exited (or waits for it when `block`).
void Reap(Application& app, bool block) {
    while (!app.reaped) {
        int status = 0;
        const pid_t r = waitpid(app.pid, &status, block ? 0 : WNOHANG);
        if (r == 0) return;
        if (r < 0 && errno == EINTR) continue;
        // Reaped, or not ours to reap any more (e.g. SIGCHLD ignored by the host).
        app.reaped = true;
    }
}

// Waits until `deadline` for the shell to exit and its output to close,
// discarding what it still writes. True when both happened.
bool WaitForEnd(Application& app, int64_t deadline) {
    char chunk[kReadChunk];
    for (;;) {
        Reap(app, false);
        if (app.reaped && app.outputClosed) return true;
        const int64_t now = NowMs();
        if (now >= deadline) return false;
        const int64_t step = std::min(deadline, now + kReapStepMs);
        if (app.outputClosed) {
            poll(nullptr, 0, static_cast<int>(step - now));
            continue;
        }
        size_t got = 0;
        const ReadResult r = ReadSome(app.output, step, chunk, sizeof chunk, got);
        WipeBytes(chunk, sizeof chunk);
        if (r == ReadResult::kEnd) app.outputClosed = true;
    }
}

// Ends the application's whole process group: SIGTERM, then SIGKILL when it
// has not ended within termGraceMs. The shell is reaped in any case.
void End(Application& app, int termGraceMs) {
    kill(-app.pid, SIGTERM);
    if (!WaitForEnd(app, NowMs() + std::max(termGraceMs, 0))) kill(-app.pid, SIGKILL);
    Reap(app, true);
}

}  // namespace

bool DefaultBrowserRunner(const std::string& command, std::string& output) {
    return RunBrowserCommand(command, output, BrowserLimits());
}

bool RunBrowserCommand(const std::string& command, std::string& output, int answerLimitMs) {
    BrowserLimits limits;
    limits.answerMs = answerLimitMs;
    return RunBrowserCommand(command, output, limits);
}

bool RunBrowserCommand(const std::string& command, std::string& output,
                       const BrowserLimits& limits) {
    Application app;
    if (!Start(command, app)) return false;
    const int64_t deadline = NowMs() + std::max(limits.answerMs, 0);

    // The answer carries tokens: it lives in buffers sized up front, so nothing
    // grows and nothing is released unwiped.
    std::string rest, line;
    rest.reserve(kBrowserMaxLine + 2 * kReadChunk);
    bool timedOut = false;
    const bool answered = ReadLine(app.output, deadline, kBrowserMaxLine, line, rest, timedOut);
    WipeString(rest);
    if (!answered && !timedOut) app.outputClosed = true;

    // Let the application end on its own, unless it has run out of time already.
    if (timedOut || !WaitForEnd(app, NowMs() + std::max(limits.exitGraceMs, 0)))
        End(app, limits.termGraceMs);
    close(app.output);

    if (!answered) {
        WipeString(line);
        return false;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    output.swap(line);
    WipeString(line);
    return true;
}

std::string MakeBrowserCommand(const std::string& authApp, const std::string& url) {
    // The URL carries sign-in hints: build the line in one buffer sized up front,
    // so no partial copy of it is ever released unwiped.
    std::string command;
    command.reserve(authApp.size() + url.size() + 3);
    command.append(authApp).append(" \"").append(url).append("\"");
    return command;
}
