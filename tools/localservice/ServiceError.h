#pragma once
#include <stdexcept>
#include <string>

namespace localservice {

// A refusal that reaches the client: an error string of the service's error table,
// a human-readable description and the HTTP status of a plain (non-envelope) answer.
class ServiceError : public std::runtime_error {
  public:
    ServiceError(std::string error, const std::string& description, int status = 400)
        : std::runtime_error(description), error_(std::move(error)), status_(status) {}
    const std::string& error() const { return error_; }
    int status() const { return status_; }

  private:
    std::string error_;
    int status_;
};

}  // namespace localservice
