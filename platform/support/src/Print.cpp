// The print facility: per-module logging handles whose destination and
// levels come from the environment (NIMBEX_LOG) or the machine registry
// ("\config\Support\Log"). Silent unless configured.
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <string>

#include "SupportPaths.h"
#include "support/support.h"

namespace {

enum class Destination { None, Stderr, Syslog, File };

// A level is a number 1..6; a mask holds one bit per level (bit n-1 for level
// n), repeated in five 6-bit groups (0x1041041 names level 1 in every group).
constexpr unsigned kAllLevels = 0x3F;

unsigned FoldMask(unsigned mask) {
    unsigned folded = 0;
    for (int group = 0; group < 32; group += 6) folded |= mask >> group;
    return folded & kAllLevels;
}

bool ParseNumber(const std::string& text, unsigned* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long number = strtoul(text.c_str(), &end, 0);
    if (!end || *end != '\0' || text[0] == '-') return false;
    *value = static_cast<unsigned>(number);
    return true;
}

struct Config {
    Destination destination = Destination::None;
    std::string file;
    unsigned levels = kAllLevels;
};

// "stderr", "syslog", "off"/"none" or an absolute file path.
bool ParseDestination(const std::string& text, Config* config) {
    if (text == "stderr") {
        config->destination = Destination::Stderr;
    } else if (text == "syslog") {
        config->destination = Destination::Syslog;
    } else if (text == "off" || text == "none") {
        config->destination = Destination::None;
    } else if (!text.empty() && text[0] == '/') {
        config->destination = Destination::File;
        config->file = text;
    } else {
        return false;
    }
    return true;
}

// NIMBEX_LOG=<destination>[:<level mask>]. The mask is read only when the text
// after the last ':' is a number, so file paths may contain ':'.
bool ConfigFromEnvironment(Config* config) {
    const char* value = getenv("NIMBEX_LOG");
    if (!value || !*value) return false;
    std::string text = value;
    size_t colon = text.rfind(':');
    unsigned levels;
    if (colon != std::string::npos && ParseNumber(text.substr(colon + 1), &levels)) {
        config->levels = FoldMask(levels);
        text.resize(colon);
    }
    if (!ParseDestination(text, config)) config->destination = Destination::None;
    return true;
}

// "\config\Support\Log": "Destination" (string) and "Levels" (long). Looked at
// only when the machine registry already exists, so that logging never
// creates it.
void ConfigFromRegistry(Config* config) {
    struct stat st;
    if (stat((nimbex_support::MachineDirectory() + "/registry.db").c_str(), &st) != 0) return;
    char buffer[4096];
    size_t length = sizeof buffer - 1;
    if (support_registry_get_string("\\config\\Support\\Log\\Destination", &length, buffer) != 0)
        return;
    buffer[length] = '\0';
    if (!ParseDestination(buffer, config)) {
        config->destination = Destination::None;
        return;
    }
    int32_t levels = 0;
    if (support_registry_get_long("\\config\\Support\\Log\\Levels", &levels) == 0)
        config->levels = FoldMask(static_cast<unsigned>(levels));
}

std::string FormatText(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int size = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (size > 0) {
        message.resize(static_cast<size_t>(size) + 1);
        vsnprintf(&message[0], message.size(), format, args);
        message.resize(static_cast<size_t>(size));
    }
    return message;
}

}  // namespace

struct support_print {
    std::string module;
    unsigned wanted = 0;  // the levels the module asked for, folded
    std::once_flag once;
    Config config;
    int fd = -1;

    void Resolve() {
        std::call_once(once, [this] {
            if (!ConfigFromEnvironment(&config)) ConfigFromRegistry(&config);
            if (config.destination == Destination::File) {
                fd = open(config.file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
                if (fd < 0) config.destination = Destination::None;
            }
        });
    }

    unsigned Enabled() {
        Resolve();
        return config.destination == Destination::None ? 0u : (config.levels & wanted);
    }
};

extern "C" {

TSupportPrint* support_print_init2(const char* module, unsigned levels) {
    TSupportPrint* handle = new (std::nothrow) TSupportPrint();
    if (!handle) return nullptr;
    try {
        handle->module = module && *module ? module : "support";
    } catch (...) {
        delete handle;
        return nullptr;
    }
    handle->wanted = FoldMask(levels);
    return handle;
}

int support_print_is(const TSupportPrint* handle, unsigned mask) {
    if (!handle) return 0;
    // Resolving the configuration once is not a visible change of the handle.
    return (const_cast<TSupportPrint*>(handle)->Enabled() & FoldMask(mask)) != 0;
}

void support_print(TSupportPrint* handle, unsigned level, const char* file, int line,
                   const char* function, const char* format, ...) {
    if (!handle || !format || level < 1 || level > 6) return;
    if ((handle->Enabled() & (1u << (level - 1))) == 0) return;
    std::string message;
    bool formatted = false;
    va_list args;
    va_start(args, format);
    try {
        message = FormatText(format, args);
        formatted = true;
    } catch (...) {
        // out of memory: nothing is printed
    }
    va_end(args);
    if (!formatted) return;
    try {
        std::string where = function && *function ? function : "?";
        if (file && *file) where += std::string(" ") + file;
        where += ":" + std::to_string(line);

        if (handle->config.destination == Destination::Syslog) {
            int priority = level == 1 ? LOG_ERR : level == 2 ? LOG_NOTICE : LOG_DEBUG;
            syslog(LOG_USER | priority, "%s: level %u %s: %s", handle->module.c_str(), level,
                   where.c_str(), message.c_str());
            return;
        }
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        struct tm utc;
        gmtime_r(&ts.tv_sec, &utc);
        char stamp[64];
        snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                 utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                 ts.tv_nsec / 1000);
        std::string text = std::string(stamp) + " " + handle->module + "[" +
                           std::to_string(getpid()) + "] level " + std::to_string(level) + " " +
                           where + ": " + message + "\n";
        int fd = handle->config.destination == Destination::File ? handle->fd : STDERR_FILENO;
        // One write per line keeps lines of concurrent writers whole.
        const char* data = text.data();
        size_t left = text.size();
        while (left > 0) {
            ssize_t written = write(fd, data, left);
            if (written <= 0) break;
            data += written;
            left -= static_cast<size_t>(written);
        }
    } catch (...) {
        // Logging never fails its caller.
    }
}

void support_print_done(TSupportPrint* handle) {
    if (!handle) return;
    if (handle->fd >= 0) close(handle->fd);
    delete handle;
}

}  // extern "C"
