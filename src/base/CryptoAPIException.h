#pragma once
#include <cstdint>
#include <exception>
#include <string>

namespace veltra {

// An exception carrying a CryptoAPI error code; its text comes from the
// platform's message table. what() is empty: the text is message().
class CryptoAPIException : public std::exception {
  public:
    explicit CryptoAPIException(uint32_t code);
    ~CryptoAPIException() override;
    const char* what() const noexcept override;
    virtual const std::string& message() const noexcept;
    uint32_t code() const noexcept { return code_; }

  private:
    uint32_t code_;
    std::string message_;
};

}  // namespace veltra
