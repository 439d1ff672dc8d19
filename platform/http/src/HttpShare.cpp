#include "HttpShare.h"

#include <pthread.h>

#include <atomic>
#include <vector>

namespace {

struct Share {
    CURLSH* handle = nullptr;
    // One lock per kind of shared data, as libcurl asks.
    pthread_mutex_t locks[CURL_LOCK_DATA_LAST];
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;  // guards g_share
Share* g_share = nullptr;
std::vector<CURL*>* g_parked = nullptr;  // guarded by g_mutex
constexpr size_t kMaxParked = 8;
std::atomic<uint64_t> g_generation{0};
pthread_once_t g_once = PTHREAD_ONCE_INIT;

void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    pthread_mutex_lock(&static_cast<Share*>(user)->locks[data]);
}

void Unlock(CURL*, curl_lock_data data, void* user) {
    pthread_mutex_unlock(&static_cast<Share*>(user)->locks[data]);
}

void BeforeFork() {
    pthread_mutex_lock(&g_mutex);
}
void AfterForkParent() {
    pthread_mutex_unlock(&g_mutex);
}
void AfterForkChild() {
    // The parent's share (and every handle using it) is left as it is: closing
    // it here would shut down TLS sessions that the parent still uses.
    g_share = nullptr;
    g_parked = nullptr;
    g_generation.fetch_add(1);
    pthread_mutex_init(&g_mutex, nullptr);
}

void Init() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    pthread_atfork(BeforeFork, AfterForkParent, AfterForkChild);
}

Share* MakeShare() {
    Share* share = new Share;
    for (auto& lock : share->locks) pthread_mutex_init(&lock, nullptr);
    share->handle = curl_share_init();
    if (share->handle == nullptr) {
        delete share;
        return nullptr;
    }
    curl_share_setopt(share->handle, CURLSHOPT_USERDATA, share);
    curl_share_setopt(share->handle, CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(share->handle, CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    return share;
}

}  // namespace

uint64_t HttpForkGeneration() {
    pthread_once(&g_once, Init);
    return g_generation.load();
}

CURLSH* HttpShareObject() {
    pthread_once(&g_once, Init);
    pthread_mutex_lock(&g_mutex);
    if (g_share == nullptr) g_share = MakeShare();
    CURLSH* handle = g_share != nullptr ? g_share->handle : nullptr;
    pthread_mutex_unlock(&g_mutex);
    return handle;
}

CURL* HttpTakeHandle() {
    pthread_once(&g_once, Init);
    pthread_mutex_lock(&g_mutex);
    CURL* handle = nullptr;
    if (g_parked != nullptr && !g_parked->empty()) {
        handle = g_parked->back();
        g_parked->pop_back();
    }
    pthread_mutex_unlock(&g_mutex);
    if (handle != nullptr) return handle;

    handle = curl_easy_init();
    if (handle != nullptr) {
        // Kept across curl_easy_reset.
        if (CURLSH* share = HttpShareObject()) curl_easy_setopt(handle, CURLOPT_SHARE, share);
    }
    return handle;
}

void HttpParkHandle(CURL* handle) {
    if (handle == nullptr) return;
    curl_easy_reset(handle);  // drops every pointer into the client that used it
    pthread_mutex_lock(&g_mutex);
    if (g_parked == nullptr) g_parked = new std::vector<CURL*>;
    bool parked = false;
    if (g_parked->size() < kMaxParked) {
        g_parked->push_back(handle);
        parked = true;
    }
    pthread_mutex_unlock(&g_mutex);
    if (!parked) curl_easy_cleanup(handle);
}
