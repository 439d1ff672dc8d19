#pragma once
#include <string>

namespace csphost {

// Where the host takes a PIN from when the reader asks for one. Never from
// the command line.
class PinSource {
  public:
    // No PIN is available (the reader then answers "PIN required").
    static PinSource None();
    // Asked on the controlling terminal without echo.
    static PinSource Terminal(const std::string& prompt = "PIN: ");
    // The value of an environment variable, read at each request.
    static PinSource Environment(const std::string& variable);
    // One line (without its line end) read from a file descriptor per request.
    static PinSource Descriptor(int fd);

    // False when no PIN can be had; the caller wipes `pin`.
    bool Read(std::string& pin) const;

  private:
    enum class Kind { kNone, kTerminal, kEnvironment, kDescriptor };
    PinSource(Kind kind, std::string text, int fd) : kind_(kind), text_(std::move(text)), fd_(fd) {}

    Kind kind_;
    std::string text_;  // prompt or variable name
    int fd_;
};

// Overwrites the string's characters with zeros and empties it.
void Wipe(std::string& secret);

}  // namespace csphost
