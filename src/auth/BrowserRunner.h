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
// The longest answer line kept (longer lines are cut there).
constexpr size_t kBrowserMaxLine = 9999;

// The default runner: RunBrowserCommand with kBrowserAnswerLimitMs.
bool DefaultBrowserRunner(const std::string& command, std::string& output);

// Starts `command` through the shell with popen and reads its first output
// line (at most kBrowserMaxLine characters), dropping trailing CR and LF.
// When no line has arrived within answerLimitMs, or the program keeps running
// longer than kBrowserExitGraceMs after its line, it is killed, so the caller
// never waits longer than answerLimitMs plus the grace. Temporary copies of
// the line are wiped; the caller wipes `output`.
bool RunBrowserCommand(const std::string& command, std::string& output, int answerLimitMs);

// The command line that starts the browser application (option "AuthApp")
// for `url`: the application path, a blank and the URL in double quotes.
std::string MakeBrowserCommand(const std::string& authApp, const std::string& url);
