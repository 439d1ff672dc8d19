#include "TrustStore.h"

#include <pthread.h>
#include <support/support.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "HttpShare.h"

namespace {

struct CachedStore {
    X509_STORE* store = nullptr;
    struct timespec mtime {};
    off_t size = 0;
    ino_t inode = 0;
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
std::map<std::string, CachedStore>* g_cache = nullptr;
uint64_t g_generation = 0;
pthread_once_t g_once = PTHREAD_ONCE_INIT;

void BeforeFork() {
    pthread_mutex_lock(&g_mutex);
}
void AfterForkParent() {
    pthread_mutex_unlock(&g_mutex);
}
void AfterForkChild() {
    pthread_mutex_init(&g_mutex, nullptr);
}
void RegisterForkHandlers() {
    pthread_atfork(BeforeFork, AfterForkParent, AfterForkChild);
}

X509_STORE* BuildStore(const std::string& extraCaFile) {
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return nullptr;
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST);
    bool ok = X509_STORE_set_default_paths(store) == 1;
    if (ok && !extraCaFile.empty()) ok = X509_STORE_load_file(store, extraCaFile.c_str()) == 1;
    if (!ok) {
        X509_STORE_free(store);
        return nullptr;
    }
    return store;
}

}  // namespace

std::string ConfiguredCaFile() {
    const char* env = std::getenv("NIMBEX_CA_FILE");
    if (env != nullptr && *env != '\0') return env;
    static const char kPath[] = "\\config\\KeyDevices\\Cloud\\CAFile";
    size_t length = 0;
    if (support_registry_get_string(kPath, &length, nullptr) != SUP_OK || length == 0) return {};
    std::vector<char> buffer(length);
    if (support_registry_get_string(kPath, &length, buffer.data()) != SUP_OK) return {};
    return std::string(buffer.data(), length < buffer.size() ? length : buffer.size());
}

X509_STORE* AcquireTrustStore(const std::string& extraCaFile) {
    struct stat st {};
    if (!extraCaFile.empty() && stat(extraCaFile.c_str(), &st) != 0) return nullptr;

    pthread_once(&g_once, RegisterForkHandlers);
    uint64_t generation = HttpForkGeneration();
    pthread_mutex_lock(&g_mutex);
    if (g_cache == nullptr || g_generation != generation) {
        // A forked child builds its own stores; the parent's copies are left
        // alone (another parent thread may have held their locks at the fork).
        g_cache = new std::map<std::string, CachedStore>;
        g_generation = generation;
    }
    CachedStore& entry = (*g_cache)[extraCaFile];
    bool stale = entry.store == nullptr ||
                 (!extraCaFile.empty() && (entry.mtime.tv_sec != st.st_mtim.tv_sec ||
                                           entry.mtime.tv_nsec != st.st_mtim.tv_nsec ||
                                           entry.size != st.st_size || entry.inode != st.st_ino));
    if (stale) {
        X509_STORE* fresh = BuildStore(extraCaFile);
        if (fresh != nullptr) {
            if (entry.store != nullptr) X509_STORE_free(entry.store);
            entry.store = fresh;
            entry.mtime = st.st_mtim;
            entry.size = st.st_size;
            entry.inode = st.st_ino;
        } else {
            pthread_mutex_unlock(&g_mutex);
            return nullptr;
        }
    }
    X509_STORE* store = entry.store;
    X509_STORE_up_ref(store);
    pthread_mutex_unlock(&g_mutex);
    return store;
}
