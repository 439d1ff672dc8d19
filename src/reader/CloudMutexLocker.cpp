#include "reader/CloudMutexLocker.h"

#include "base/ErrorCodes.h"
#include "base/KelException.h"

namespace {
const char kCloudLockName[] = "cloud_lock";
}

CloudMutexLocker::CloudMutexLocker() {
    if (ubi_mutex_open(&mutex_, kCloudLockName, 0) != SUP_OK || !mutex_)
        throw KelException("Cannot acquire the cloud mutex", codes::kFail);
}

CloudMutexLocker::~CloudMutexLocker() {
    ubi_mutex_close(mutex_);
}

void CloudMutexLocker::lock() {
    if (ubi_mutex_lock(mutex_) != SUP_OK)
        throw KelException("Cannot lock the cloud mutex", codes::kFail);
}

void CloudMutexLocker::unlock() {
    if (ubi_mutex_unlock(mutex_) != SUP_OK)
        throw KelException("Cannot unlock the cloud mutex", codes::kFail);
}
