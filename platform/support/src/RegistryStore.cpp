// The registry's databases: path parsing, one connection per process and
// scope, transactions with busy retries.
#include "RegistryStore.h"

#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <new>

#include "SupportPaths.h"

namespace nimbex_support {

namespace {

constexpr size_t kMaxPath = 4096;
constexpr int kBusyTimeoutMs = 5000;
constexpr int kBusyRetries = 12;  // about a minute of waiting in all

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS sections ("
    " path TEXT NOT NULL COLLATE NOCASE PRIMARY KEY,"
    " parent TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS sections_parent ON sections(parent);"
    "CREATE TABLE IF NOT EXISTS vals ("
    " section TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data,"
    " PRIMARY KEY (section, name));";

// The registry lock and the open databases, keyed by file path. Both are
// allocated once and never freed, so that they outlive every static
// destructor that might still use the registry.
std::mutex* g_lock = new std::mutex();
std::map<std::string, RegistryDb*>* g_open = new std::map<std::string, RegistryDb*>();
pid_t g_owner = 0;  // the process the open databases belong to

void PauseMs(int ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

bool IsBusy(int rc) {
    int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Keeps the registry lock usable in a child forked while another thread held it.
void BeforeFork() {
    g_lock->lock();
}
void AfterFork() {
    g_lock->unlock();
}
struct ForkGuard {
    ForkGuard() { pthread_atfork(BeforeFork, AfterFork, AfterFork); }
} g_forkGuard;

int Exec(sqlite3* db, const char* sql) {
    int rc;
    for (int attempt = 0;; ++attempt) {
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if (!IsBusy(rc) || attempt >= kBusyRetries) return rc;
        PauseMs(5 + attempt * 10);
    }
}

TSupErr OpenDatabase(const std::string& dir, const std::string& file, RegistryDb** out) {
    if (!MakeDirectories(dir, 0700)) return kRegAccessDenied;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        TSupErr code = rc == SQLITE_CANTOPEN || rc == SQLITE_PERM || rc == SQLITE_READONLY
                           ? kRegAccessDenied
                           : SqliteCode(rc);
        sqlite3_close(db);
        return code;
    }
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    rc = Exec(db, "PRAGMA journal_mode=WAL");
    if (rc == SQLITE_OK) rc = Exec(db, "PRAGMA synchronous=NORMAL");
    if (rc == SQLITE_OK) {
        // Creating the tables takes the write lock, so that two processes
        // opening a new store at once do not trip over each other.
        auto holder = new (std::nothrow) RegistryDb(db);
        if (!holder) {
            sqlite3_close(db);
            return kRegNoMemory;
        }
        TSupErr code = holder->Write([&]() -> TSupErr {
            return SqliteCode(sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr));
        });
        if (code != 0) {
            delete holder;
            return code;
        }
        *out = holder;
        return 0;
    }
    TSupErr code = SqliteCode(rc);
    sqlite3_close(db);
    return code;
}

}  // namespace

std::string JoinParts(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i) out += '\\';
        out += parts[i];
    }
    return out;
}

std::string RegPath::Section() const {
    return JoinParts(parts, parts.size());
}

std::string RegPath::Parent() const {
    return JoinParts(parts, parts.empty() ? 0 : parts.size() - 1);
}

TSupErr ParsePath(const char* path, RegPath* out) {
    if (!path || !out) return SUP_INVALID_PARAMETER;
    size_t length = strlen(path);
    if (length == 0 || length > kMaxPath || path[0] != '\\') return kRegBadPath;
    std::string text(path + 1, length - 1);
    if (!text.empty() && text.back() == '\\') text.pop_back();
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(start, end - start);
        if (part.empty()) return kRegBadPath;
        for (unsigned char c : part)
            if (c < 0x20 || c == 0x7F) return kRegBadPath;
        parts.push_back(part);
        start = end + 1;
    }
    if (parts.empty()) return kRegBadPath;
    if (strcasecmp(parts[0].c_str(), "config") == 0)
        out->machine = true;
    else if (strcasecmp(parts[0].c_str(), "local") == 0)
        out->machine = false;
    else
        return kRegBadPath;
    parts.erase(parts.begin());
    out->parts.swap(parts);
    return 0;
}

TSupErr SqliteCode(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return 0;
        case SQLITE_NOMEM:
            return kRegNoMemory;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kRegBusy;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_AUTH:
            return kRegAccessDenied;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return kRegCorrupt;
        default:
            return kRegIoError;
    }
}

int StepWithRetry(sqlite3_stmt* statement, const std::function<void()>& onRestart) {
    int rc;
    for (int attempt = 0;; ++attempt) {
        rc = sqlite3_step(statement);
        if (!IsBusy(rc) || attempt >= kBusyRetries) return rc;
        sqlite3_reset(statement);
        if (onRestart) onRestart();
        PauseMs(5 + attempt * 10);
    }
}

RegistryDb::~RegistryDb() {
    if (!db_) return;
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    sqlite3_close(db_);
}

sqlite3_stmt* RegistryDb::Statement(const char* sql, TSupErr* error) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
        sqlite3_reset(found->second);
        sqlite3_clear_bindings(found->second);
        return found->second;
    }
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        *error = SqliteCode(rc);
        return nullptr;
    }
    statements_[sql] = statement;
    return statement;
}

TSupErr RegistryDb::Write(const std::function<TSupErr()>& body) {
    int rc = SQLITE_BUSY;
    for (int attempt = 0; attempt <= kBusyRetries; ++attempt) {
        rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (!IsBusy(rc)) break;
        PauseMs(5 + attempt * 10);
    }
    if (rc != SQLITE_OK) return SqliteCode(rc);
    TSupErr code;
    try {
        code = body();
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (code == 0) {
        for (int attempt = 0;; ++attempt) {
            rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
            if (!IsBusy(rc) || attempt >= kBusyRetries) break;
            PauseMs(5 + attempt * 10);
        }
        if (rc == SQLITE_OK) return 0;
        code = SqliteCode(rc);
    }
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return code;
}

std::string RegistryDirectory(bool machine) {
    return machine ? MachineDirectory() : UserDirectory();
}

TSupErr WithRegistry(bool machine, const std::function<TSupErr(RegistryDb&)>& fn, bool create,
                     TSupErr missing) {
    std::string dir = RegistryDirectory(machine);
    std::string file = dir + "/registry.db";
    try {
        std::lock_guard<std::mutex> lock(*g_lock);
        pid_t self = getpid();
        if (g_owner != self) {
            // A forked child must not use the parent's connections: forget
            // them without closing (closing could disturb the parent's locks).
            for (auto& entry : *g_open) entry.second->Abandon();
            g_open->clear();
            g_owner = self;
        }
        if (!create && g_open->find(file) == g_open->end()) {
            struct stat st;
            if (stat(file.c_str(), &st) != 0 && errno == ENOENT) return missing;
        }
        RegistryDb*& db = (*g_open)[file];
        if (!db) {
            TSupErr code = OpenDatabase(dir, file, &db);
            if (code != 0) {
                g_open->erase(file);
                return code;
            }
        }
        return fn(*db);
    } catch (const std::bad_alloc&) {
        return kRegNoMemory;
    } catch (...) {
        return kRegIoError;
    }
}

TSupErr EnsureSections(RegistryDb& db, const std::vector<std::string>& parts, size_t count) {
    TSupErr error = 0;
    sqlite3_stmt* insert = db.Statement(
        "INSERT OR IGNORE INTO sections(path, parent, name) VALUES (?1, ?2, ?3)", &error);
    if (!insert) return error;
    std::string parent;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        std::string path = parent.empty() ? parts[i] : parent + "\\" + parts[i];
        sqlite3_reset(insert);
        sqlite3_bind_text(insert, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, parent.data(), static_cast<int>(parent.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, parts[i].data(), static_cast<int>(parts[i].size()),
                          SQLITE_TRANSIENT);
        int rc = sqlite3_step(insert);
        if (rc != SQLITE_DONE) return SqliteCode(rc);
        parent = path;
    }
    return 0;
}

}  // namespace nimbex_support
