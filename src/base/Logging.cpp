#include "base/Logging.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// Opens the logging handle at load time and releases it at unload.
class LogContext {
  public:
    LogContext() : handle_(support_print_init2("cloud", 0x7F)) {}
    ~LogContext() {
        if (handle_) support_print_done(handle_);
        handle_ = nullptr;
    }
    TSupportPrint* handle() const { return handle_; }

  private:
    TSupportPrint* handle_;
};

LogContext g_log;

void Forward(TSupportPrint* handle, unsigned level, int line, const char* format, va_list args) {
    if (!handle) return;
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return;
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    support_print(handle, level, "", line, "process_kel_exception", "%s", text.c_str());
}

}  // namespace

TSupportPrint* LogHandle() {
    return g_log.handle();
}

void LogFailure(TSupportPrint* handle, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Forward(handle, 1, __LINE__, format, args);
    va_end(args);
}

void LogCancel(TSupportPrint* handle, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Forward(handle, 2, __LINE__, format, args);
    va_end(args);
}
