#pragma once
#include <functional>
#include <string>

// Runs a browser-application command line and hands back the first line it
// writes to its standard output. True when a line was read; false when the
// command cannot be started, writes nothing or does not answer in time.
typedef std::function<bool(const std::string& command, std::string& output)> BrowserRunner;

// How long the default runner waits for the application's answer line: an
// interactive sign-in leaves the user ten minutes.
constexpr int kBrowserAnswerLimitMs = 10 * 60 * 1000;
// After the answer line, how long the application may take to finish before
// it is ended.
constexpr int kBrowserExitGraceMs = 5 * 1000;
// How long an application that is being ended has between SIGTERM and SIGKILL.
constexpr int kBrowserTermGraceMs = 1000;
// The longest answer line kept (longer lines are cut there).
constexpr size_t kBrowserMaxLine = 9999;

// The time limits of one run (milliseconds).
struct BrowserLimits {
    int answerMs = kBrowserAnswerLimitMs;
    int exitGraceMs = kBrowserExitGraceMs;
    int termGraceMs = kBrowserTermGraceMs;
};

// The default runner: RunBrowserCommand with the default limits.
bool DefaultBrowserRunner(const std::string& command, std::string& output);

// Runs `command` as the shell runs it ("/bin/sh -c <command>"), the shell in a
// process group of its own with its standard output on a pipe, and reads the
// first output line (at most kBrowserMaxLine characters), dropping trailing CR
// and LF; a last line without a line end counts. The run ends when the shell
// has exited and its output is closed. When no line has arrived within
// limits.answerMs, or the application is still running limits.exitGraceMs
// after its line, the whole group gets SIGTERM and, limits.termGraceMs later,
// SIGKILL; the shell is always reaped. Temporary copies of the line are
// wiped; the caller wipes `output`.
bool RunBrowserCommand(const std::string& command, std::string& output,
                       const BrowserLimits& limits);
// The same with the default graces and the given answer limit.
bool RunBrowserCommand(const std::string& command, std::string& output, int answerLimitMs);

// The command line that starts the browser application (option "AuthApp")
// for `url`: the application path, a blank and the URL in double quotes.
std::string MakeBrowserCommand(const std::string& authApp, const std::string& url);
