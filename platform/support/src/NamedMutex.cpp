// Named mutexes across threads and processes: an exclusive flock on
// <runtime dir>/<name>.lock, under an in-process lock that lets one thread of
// the process at a time hold (or wait for) the file lock.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "SupportPaths.h"
#include "support/support.h"

namespace {

constexpr TSupErr kAccessDenied = 5;
constexpr TSupErr kNotOwner = 288;  // ERROR_NOT_OWNER
constexpr TSupErr kIoError = 1117;
constexpr TSupErr kWouldDeadlock = 1131;  // ERROR_POSSIBLE_DEADLOCK
constexpr size_t kMaxName = 200;

// The process's state of one named mutex, shared by all handles of that name.
struct NamedLock {
    std::string file;
    int fd = -1;
    pid_t pid = 0;  // the process fd was opened in
    int handles = 0;
    std::mutex m;
    std::condition_variable released;
    bool held = false;      // some thread of this process holds (or is taking) the file lock
    std::thread::id owner;  // the thread that took it
};

std::mutex* g_tableLock = new std::mutex();
std::map<std::string, NamedLock*>* g_locks = new std::map<std::string, NamedLock*>();

bool ValidName(const char* name) {
    if (!name) return false;
    size_t length = strlen(name);
    if (length == 0 || length > kMaxName) return false;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

// The runtime directory must be ours and closed to others: a lock file in a
// directory someone else controls could be swapped under us.
TSupErr PrepareDirectory(const std::string& dir) {
    if (!nimbex_support::MakeDirectories(dir, 0700)) return kAccessDenied;
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kAccessDenied;
    if (st.st_uid != geteuid() || (st.st_mode & 022) != 0) return kAccessDenied;
    return SUP_OK;
}

// Opens the lock file in this process (again, after a fork: the child must
// not share the parent's open file description, or it would share its lock).
TSupErr OpenFile(NamedLock* lock) {
    pid_t self = getpid();
    if (lock->fd >= 0 && lock->pid == self) return SUP_OK;
    if (lock->fd >= 0) {
        close(lock->fd);  // the parent keeps its own descriptor, and its lock
        lock->fd = -1;
        lock->held = false;
        lock->owner = std::thread::id();
    }
    int fd = open(lock->file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == ENOMEM ? 8 : kAccessDenied;
    lock->fd = fd;
    lock->pid = self;
    return SUP_OK;
}

}  // namespace

struct ubi_mutex {
    NamedLock* lock;
    bool locked = false;  // this handle holds the mutex
};

extern "C" {

TSupErr ubi_mutex_open(ubi_mutex_t** mutex, const char* name, unsigned flags) {
    (void)flags;  // no flags are defined
    if (!mutex) return SUP_INVALID_PARAMETER;
    *mutex = nullptr;
    if (!ValidName(name)) return SUP_INVALID_PARAMETER;
    try {
        std::string dir = nimbex_support::RuntimeDirectory();
        std::string file = dir + "/" + name + ".lock";
        std::lock_guard<std::mutex> table(*g_tableLock);
        TSupErr code = PrepareDirectory(dir);
        if (code != SUP_OK) return code;
        NamedLock*& lock = (*g_locks)[file];
        if (!lock) {
            lock = new NamedLock();
            lock->file = file;
        }
        code = OpenFile(lock);
        if (code != SUP_OK) {
            if (lock->handles == 0) {
                delete lock;
                g_locks->erase(file);
            }
            return code;
        }
        ++lock->handles;
        *mutex = new ubi_mutex{lock};
        return SUP_OK;
    } catch (const std::bad_alloc&) {
        return 8;
    }
}

TSupErr ubi_mutex_lock(ubi_mutex_t* mutex) {
    if (!mutex) return SUP_INVALID_PARAMETER;
    NamedLock* lock = mutex->lock;
    {
        std::lock_guard<std::mutex> table(*g_tableLock);
        TSupErr code = OpenFile(lock);
        if (code != SUP_OK) return code;
    }
    std::unique_lock<std::mutex> guard(lock->m);
    // The mutex is not recursive: a thread that takes it twice would wait for
    // itself forever, so that is refused.
    if (lock->held && lock->owner == std::this_thread::get_id()) return kWouldDeadlock;
    lock->released.wait(guard, [lock] { return !lock->held; });
    lock->held = true;
    lock->owner = std::this_thread::get_id();
    int fd = lock->fd;
    guard.unlock();
    int rc;
    do {
        rc = flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        guard.lock();
        lock->held = false;
        lock->owner = std::thread::id();
        lock->released.notify_one();
        return kIoError;
    }
    guard.lock();
    mutex->locked = true;
    return SUP_OK;
}

TSupErr ubi_mutex_unlock(ubi_mutex_t* mutex) {
    if (!mutex) return SUP_INVALID_PARAMETER;
    NamedLock* lock = mutex->lock;
    std::lock_guard<std::mutex> guard(lock->m);
    if (!mutex->locked || !lock->held || lock->pid != getpid()) return kNotOwner;
    flock(lock->fd, LOCK_UN);
    mutex->locked = false;
    lock->held = false;
    lock->owner = std::thread::id();
    lock->released.notify_one();
    return SUP_OK;
}

TSupErr ubi_mutex_close(ubi_mutex_t* mutex) {
    if (!mutex) return SUP_INVALID_PARAMETER;
    if (mutex->locked) ubi_mutex_unlock(mutex);
    std::lock_guard<std::mutex> table(*g_tableLock);
    NamedLock* lock = mutex->lock;
    if (--lock->handles == 0) {
        // In a forked child this closes only the child's copy of the
        // descriptor; the parent's lock stays.
        if (lock->fd >= 0) close(lock->fd);
        g_locks->erase(lock->file);
        delete lock;
    }
    delete mutex;
    return SUP_OK;
}

}  // extern "C"
