#pragma once

// The lock that serialises the service traffic of every reader context.
class CloudLocker {
  public:
    virtual void lock() = 0;
    virtual void unlock() = 0;
    virtual ~CloudLocker() = default;
};
