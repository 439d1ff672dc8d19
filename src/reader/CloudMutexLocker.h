#pragma once
#include <support/support.h>

#include "reader/CloudLocker.h"

// The cloud lock as one handle of the platform's named mutex "cloud_lock".
// Every context opens its own handle; all of them name the same mutex, so
// holding it excludes every other reader context of every process.
class CloudMutexLocker : public CloudLocker {
  public:
    // KelException("Cannot acquire the cloud mutex", 0x80090020) when the
    // mutex cannot be opened.
    CloudMutexLocker();
    ~CloudMutexLocker() override;
    CloudMutexLocker(const CloudMutexLocker&) = delete;
    CloudMutexLocker& operator=(const CloudMutexLocker&) = delete;

    // KelException("Cannot lock the cloud mutex", 0x80090020) on failure.
    void lock() override;
    // KelException("Cannot unlock the cloud mutex", 0x80090020) when this
    // handle does not hold the mutex.
    void unlock() override;

  private:
    ubi_mutex_t* mutex_ = nullptr;
};
