#pragma once
#include <cstdint>
#include <exception>
#include <string>

// The module's exception: a 32-bit code (never 0) and a text prefixed with
// "Cloud exception: ", also kept as a wide string.
class KelException : public std::exception {
  public:
    KelException(const std::string& text, uint32_t code);
    ~KelException() override;
    const char* what() const noexcept override;
    virtual const wchar_t* wide_what() const noexcept;
    uint32_t code() const noexcept { return code_; }

  private:
    uint32_t code_;
    std::string message_;
    std::wstring wideMessage_;
};
