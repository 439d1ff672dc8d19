#pragma once
#include <string>

// One container found by an enumeration: its name and its service's name.
class CloudEnumItemBase {
  public:
    CloudEnumItemBase(const std::string& name, const std::string& service)
        : name_(name), service_(service) {}
    virtual ~CloudEnumItemBase() = default;
    CloudEnumItemBase(const CloudEnumItemBase&) = delete;
    CloudEnumItemBase& operator=(const CloudEnumItemBase&) = delete;

    const std::string& name() const { return name_; }
    const std::string& service() const { return service_; }

  private:
    std::string name_;
    std::string service_;
};
