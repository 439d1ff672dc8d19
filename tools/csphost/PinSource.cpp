#include "PinSource.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace csphost {

namespace {

// Reads up to a line end or the end of input; false when nothing came.
bool ReadLine(int fd, std::string& line) {
    Wipe(line);
    line.reserve(128);  // a PIN fits without the string moving its text
    char c = 0;
    bool any = false;
    while (true) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n') break;
        if (line.size() + 1 >= line.capacity()) break;  // longer than any PIN
        line.push_back(c);
    }
    c = 0;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

bool ReadFromTerminal(const std::string& prompt, std::string& pin) {
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) return false;
    termios saved{};
    const bool isTerminal = tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    bool ok = write(tty, prompt.data(), prompt.size()) >= 0;
    ok = ok && ReadLine(tty, pin);
    if (isTerminal) tcsetattr(tty, TCSAFLUSH, &saved);
    if (write(tty, "\n", 1) < 0) ok = false;
    close(tty);
    return ok;
}

}  // namespace

void Wipe(std::string& secret) {
    if (!secret.empty()) OPENSSL_cleanse(&secret[0], secret.size());
    secret.clear();
}

PinSource PinSource::None() {
    return PinSource(Kind::kNone, "", -1);
}

PinSource PinSource::Terminal(const std::string& prompt) {
    return PinSource(Kind::kTerminal, prompt, -1);
}

PinSource PinSource::Environment(const std::string& variable) {
    return PinSource(Kind::kEnvironment, variable, -1);
}

PinSource PinSource::Descriptor(int fd) {
    return PinSource(Kind::kDescriptor, "", fd);
}

bool PinSource::Read(std::string& pin) const {
    switch (kind_) {
        case Kind::kTerminal:
            return ReadFromTerminal(text_, pin);
        case Kind::kEnvironment: {
            const char* value = std::getenv(text_.c_str());
            if (!value) return false;
            Wipe(pin);
            pin.assign(value);
            return true;
        }
        case Kind::kDescriptor:
            return fd_ >= 0 && ReadLine(fd_, pin);
        case Kind::kNone:
            break;
    }
    return false;
}

}  // namespace csphost
