#include "auth/BrowserRunner.h"

#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/Wipe.h"

namespace {

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

enum class ReadResult { kData, kEnd, kTimeout };

const size_t kReadChunk = 512;

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

}  // namespace

bool DefaultBrowserRunner(const std::string& command, std::string& output) {
    return RunBrowserCommand(command, output, kBrowserAnswerLimitMs);
}

bool RunBrowserCommand(const std::string& command, std::string& output, int answerLimitMs) {
    // The shell names itself first and then becomes the program, so that a
    // program which does not answer in time can be ended and pclose() returns.
    // The command line carries sign-in hints and the answer carries tokens: both
    // live in buffers sized up front, so nothing grows and nothing is released
    // unwiped.
    static const char kPrefix[] = "echo $$; exec ";
    std::string wrapped;
    wrapped.reserve(sizeof kPrefix + command.size());
    wrapped.append(kPrefix).append(command);
    FILE* pipe = popen(wrapped.c_str(), "r");
    WipeString(wrapped);
    if (!pipe) return false;
    const int fd = fileno(pipe);
    const int64_t deadline = NowMs() + (answerLimitMs > 0 ? answerLimitMs : 0);

    std::string rest, pidLine, line;
    rest.reserve(kBrowserMaxLine + 2 * kReadChunk);
    bool timedOut = false;
    pid_t pid = 0;
    if (ReadLine(fd, deadline, 32, pidLine, rest, timedOut)) pid = std::atoi(pidLine.c_str());

    bool answered = false;
    if (pid > 1) answered = ReadLine(fd, deadline, kBrowserMaxLine, line, rest, timedOut);
    WipeString(rest);

    bool finished = false;
    if (!timedOut) {
        // Let the program end on its own; drain (and discard) what it still writes.
        const int64_t until = NowMs() + kBrowserExitGraceMs;
        char chunk[512];
        for (;;) {
            size_t got = 0;
            const ReadResult r = ReadSome(fd, until, chunk, sizeof chunk, got);
            WipeBytes(chunk, sizeof chunk);
            if (r == ReadResult::kData) continue;
            finished = r == ReadResult::kEnd;
            break;
        }
    }
    if (!finished && pid > 1) kill(pid, SIGKILL);
    pclose(pipe);

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
