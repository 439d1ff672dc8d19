// System certificate stores kept in SQLite: one database per scope
// (<user dir>/certstore.db, <machine dir>/certstore.db), shared by every
// process through WAL journaling, busy waits and immediate transactions.
#include <errno.h>
#include <stdlib.h>
#include <support/support.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cwctype>
#include <functional>

#include "CertInternal.h"

namespace capi {

namespace {

constexpr uint32_t kStoreMagic = 0x53544F52;  // "STOR"
constexpr int kBusyTimeoutMs = 30000;

bool MakeDirectories(const std::string& dir, mode_t mode) {
    if (dir.empty()) return false;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash), mode))
        return false;
    if (mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return false;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD SqliteError(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_BUSY;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_CANTOPEN:
            return ERROR_ACCESS_DENIED;
        default:
            return CRYPT_E_FILE_ERROR;
    }
}

int Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// Runs a statement that may meet a lock the busy handler does not cover
// (switching the journal mode), retrying for a while.
int ExecRetrying(sqlite3* db, const char* sql) {
    int rc = SQLITE_BUSY;
    for (int i = 0; i < 3000; ++i) {
        rc = Exec(db, sql);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
        usleep(10000);
    }
    return rc;
}

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS stores(name TEXT PRIMARY KEY);"
    "CREATE TABLE IF NOT EXISTS certs("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " store TEXT NOT NULL, sha1 BLOB NOT NULL, der BLOB NOT NULL,"
    " subject BLOB NOT NULL, issuer BLOB NOT NULL, serial BLOB NOT NULL,"
    " key_alg TEXT NOT NULL, key_params BLOB NOT NULL, public_key BLOB NOT NULL,"
    " unused_bits INTEGER NOT NULL, sig_alg TEXT NOT NULL, sig_params BLOB NOT NULL,"
    " version INTEGER NOT NULL, not_before INTEGER NOT NULL, not_after INTEGER NOT NULL,"
    " props BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS certs_by_hash ON certs(store, sha1);"
    "CREATE INDEX IF NOT EXISTS certs_by_store ON certs(store, id);";

const char* const kColumns =
    "id, der, sha1, subject, issuer, serial, key_alg, key_params, public_key, unused_bits,"
    " sig_alg, sig_params, version, not_before, not_after, props";

sqlite3_stmt* Statement(Store* s, const std::string& sql) {
    auto it = s->statements.find(sql);
    if (it != s->statements.end()) {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
        return it->second;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(s->db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return nullptr;
    s->statements[sql] = st;
    return st;
}

class Reset {
  public:
    explicit Reset(sqlite3_stmt* st) : st_(st) {}
    ~Reset() {
        if (st_) sqlite3_reset(st_);
    }

  private:
    sqlite3_stmt* st_;
};

void BindBlob(sqlite3_stmt* st, int i, const Bytes& b) {
    static const uint8_t empty = 0;
    sqlite3_bind_blob(st, i, b.empty() ? &empty : b.data(), static_cast<int>(b.size()),
                      SQLITE_TRANSIENT);
}

void BindText(sqlite3_stmt* st, int i, const std::string& s) {
    sqlite3_bind_text(st, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

Bytes ColumnBlob(sqlite3_stmt* st, int i) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, i));
    int n = sqlite3_column_bytes(st, i);
    return p && n > 0 ? Bytes(p, p + n) : Bytes();
}

std::string ColumnText(sqlite3_stmt* st, int i) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st, i))) : std::string();
}

// The current row of a SELECT of kColumns.
StoredRow RowFromStatement(sqlite3_stmt* st) {
    StoredRow r;
    CertFields& f = r.fields;
    r.row = sqlite3_column_int64(st, 0);
    f.der = ColumnBlob(st, 1);
    f.sha1 = ColumnBlob(st, 2);
    f.subject = ColumnBlob(st, 3);
    f.issuer = ColumnBlob(st, 4);
    f.serial = ColumnBlob(st, 5);
    f.keyAlg = ColumnText(st, 6);
    f.keyParams = ColumnBlob(st, 7);
    f.publicKey = ColumnBlob(st, 8);
    f.publicKeyUnusedBits = static_cast<DWORD>(sqlite3_column_int64(st, 9));
    f.sigAlg = ColumnText(st, 10);
    f.sigParams = ColumnBlob(st, 11);
    f.version = static_cast<DWORD>(sqlite3_column_int64(st, 12));
    f.notBefore = sqlite3_column_int64(st, 13);
    f.notAfter = sqlite3_column_int64(st, 14);
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, 15));
    if (!DeserializeProperties(p, static_cast<size_t>(sqlite3_column_bytes(st, 15)), &r.props))
        r.props.clear();
    return r;
}

CertContextImpl* ContextFromRow(Store* s, StoredRow&& r) {
    return NewContext(std::move(r.fields), std::move(r.props), s, r.row);
}

// Every write through the handle forgets what a walk read ahead.
void DropPrefetch(Store* s) {
    s->prefetch.clear();
    s->prefetchAfter = -1;
}

// BEGIN IMMEDIATE ... COMMIT around body (which returns 0 or an error code).
DWORD Transaction(Store* s, const std::function<DWORD()>& body) {
    int rc = Exec(s->db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return SqliteError(rc);
    DWORD error = body();
    if (error == 0) {
        rc = Exec(s->db, "COMMIT");
        if (rc == SQLITE_OK) return 0;
        error = SqliteError(rc);
    }
    Exec(s->db, "ROLLBACK");
    return error;
}

void CloseDb(Store* s) {
    for (auto& [sql, st] : s->statements) sqlite3_finalize(st);
    s->statements.clear();
    if (s->db) sqlite3_close_v2(s->db);
    s->db = nullptr;
}

std::string UpperStoreName(const WCHAR* name) {
    std::wstring upper;
    for (const WCHAR* p = name; *p; ++p)
        upper.push_back(static_cast<wchar_t>(std::towupper(static_cast<wint_t>(*p))));
    return WideToUtf8(upper);
}

// Rows a walk reads ahead in one query: one read transaction (and one round
// of file locking) per batch instead of per certificate.
constexpr int kPrefetchRows = 128;

// The next certificate of the store after `afterRow`, optionally with the
// given hash. Null with the last error set when there is none.
CertContextImpl* NextRow(Store* s, int64_t afterRow, const Bytes* sha1) {
    std::lock_guard<std::mutex> guard(s->lock);
    if (!sha1 && s->prefetchAfter == afterRow && !s->prefetch.empty()) {
        StoredRow r = std::move(s->prefetch.front());
        s->prefetch.pop_front();
        s->prefetchAfter = r.row;
        return ContextFromRow(s, std::move(r));
    }
    std::string sql = std::string("SELECT ") + kColumns + " FROM certs WHERE store = ?1" +
                      (sha1 ? " AND sha1 = ?3" : "") + " AND id > ?2 ORDER BY id LIMIT " +
                      std::to_string(sha1 ? 1 : kPrefetchRows);
    sqlite3_stmt* st = Statement(s, sql);
    if (!st) return Fail<CertContextImpl*>(SqliteError(sqlite3_errcode(s->db)), nullptr);
    Reset reset(st);
    BindText(st, 1, s->name);
    sqlite3_bind_int64(st, 2, afterRow);
    if (sha1) BindBlob(st, 3, *sha1);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) return Fail<CertContextImpl*>(CRYPT_E_NOT_FOUND, nullptr);
    if (rc != SQLITE_ROW) return Fail<CertContextImpl*>(SqliteError(rc), nullptr);
    StoredRow first = RowFromStatement(st);
    if (!sha1) {
        DropPrefetch(s);
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) s->prefetch.push_back(RowFromStatement(st));
        if (rc == SQLITE_DONE) {
            s->prefetchAfter = first.row;
        } else {
            DropPrefetch(s);  // the first row stands; the rest is read again later
        }
    }
    return ContextFromRow(s, std::move(first));
}

}  // namespace

// The stores live beside the registry of their scope: the reader-support
// library's paths record names both directories.
std::string UserDirectory() {
    return csp_get_paths()->user_dir;
}

std::string MachineDirectory() {
    return csp_get_paths()->machine_dir;
}

Store* StoreFromHandle(HCERTSTORE handle) {
    auto* s = static_cast<Store*>(handle);
    return s && s->magic == kStoreMagic ? s : nullptr;
}

void AddRefStore(Store* store) {
    store->refs.fetch_add(1);
}

void ReleaseStore(Store* store) {
    if (store->refs.fetch_sub(1) != 1) return;
    CloseDb(store);
    store->magic = 0;
    delete store;
}

DWORD StoreUpdateProperty(Store* s, int64_t row, DWORD propId, const Bytes* value,
                          PropertyMap* stored) {
    if (s->readOnly) return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> guard(s->lock);
    DropPrefetch(s);
    return Transaction(s, [&]() -> DWORD {
        sqlite3_stmt* get = Statement(s, "SELECT props FROM certs WHERE id = ?1");
        if (!get) return SqliteError(sqlite3_errcode(s->db));
        Reset resetGet(get);
        sqlite3_bind_int64(get, 1, row);
        int rc = sqlite3_step(get);
        if (rc == SQLITE_DONE) return CRYPT_E_NOT_FOUND;
        if (rc != SQLITE_ROW) return SqliteError(rc);
        PropertyMap props;
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(get, 0));
        if (!DeserializeProperties(p, static_cast<size_t>(sqlite3_column_bytes(get, 0)), &props))
            props.clear();
        sqlite3_reset(get);
        if (value)
            props[propId] = *value;
        else
            props.erase(propId);
        sqlite3_stmt* put = Statement(s, "UPDATE certs SET props = ?1 WHERE id = ?2");
        if (!put) return SqliteError(sqlite3_errcode(s->db));
        Reset resetPut(put);
        BindBlob(put, 1, SerializeProperties(props));
        sqlite3_bind_int64(put, 2, row);
        rc = sqlite3_step(put);
        if (rc != SQLITE_DONE) return SqliteError(rc);
        *stored = std::move(props);
        return 0;
    });
}

}  // namespace capi

using namespace capi;

extern "C" HCERTSTORE CertOpenStore(LPCSTR storeProvider, DWORD /*encodingType*/,
                                    HCRYPTPROV_LEGACY /*cryptProv*/, DWORD flags,
                                    const void* para) {
    if (storeProvider != CERT_STORE_PROV_SYSTEM_W) return Fail<HCERTSTORE>(E_INVALIDARG, nullptr);
    const auto* name = static_cast<const WCHAR*>(para);
    if (!name || !*name) return Fail<HCERTSTORE>(E_INVALIDARG, nullptr);
    DWORD location = flags & CERT_SYSTEM_STORE_LOCATION_MASK;
    std::string dir;
    if (location == CERT_SYSTEM_STORE_CURRENT_USER)
        dir = UserDirectory();
    else if (location == CERT_SYSTEM_STORE_LOCAL_MACHINE)
        dir = MachineDirectory();
    else
        return Fail<HCERTSTORE>(E_INVALIDARG, nullptr);
    // A read-only handle never creates anything.
    const bool readOnlyFlag = (flags & CERT_STORE_READONLY_FLAG) != 0;
    const bool existingOnly = (flags & CERT_STORE_OPEN_EXISTING_FLAG) != 0 || readOnlyFlag;
    std::string file = dir + "/certstore.db";
    if (existingOnly) {
        struct stat st;
        if (stat(file.c_str(), &st) != 0) return Fail<HCERTSTORE>(ERROR_FILE_NOT_FOUND, nullptr);
    } else if (!MakeDirectories(dir, location == CERT_SYSTEM_STORE_CURRENT_USER ? 0700 : 0755)) {
        return Fail<HCERTSTORE>(ERROR_ACCESS_DENIED, nullptr);
    }

    auto* s = new Store();
    s->magic = kStoreMagic;
    s->refs = 1;
    s->name = UpperStoreName(name);
    int openFlags =
        SQLITE_OPEN_NOMUTEX |
        (readOnlyFlag ? SQLITE_OPEN_READONLY
                      : SQLITE_OPEN_READWRITE | (existingOnly ? 0 : SQLITE_OPEN_CREATE));
    int rc = sqlite3_open_v2(file.c_str(), &s->db, openFlags, nullptr);
    DWORD error = 0;
    if (rc != SQLITE_OK) error = existingOnly ? ERROR_FILE_NOT_FOUND : SqliteError(rc);
    if (!error) {
        sqlite3_busy_timeout(s->db, kBusyTimeoutMs);
        // A file this process may not write (another user's machine store)
        // opens read-only: it can be walked, and writes fail cleanly.
        s->readOnly = readOnlyFlag || sqlite3_db_readonly(s->db, "main") == 1;
        if (!s->readOnly) {
            // Keep the -wal and -shm files after the last close, so that a
            // process that may only read the store can still open it.
            int persist = 1;
            sqlite3_file_control(s->db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
            rc = ExecRetrying(s->db, "PRAGMA journal_mode=WAL");
            if (rc == SQLITE_OK) rc = Exec(s->db, "PRAGMA synchronous=NORMAL");
            if (rc != SQLITE_OK) error = SqliteError(rc);
        }
    }
    if (!error && (existingOnly || s->readOnly)) {
        // No schema means no store.
        sqlite3_stmt* st = Statement(s, "SELECT 1 FROM stores WHERE name = ?1");
        if (!st) {
            const int code = sqlite3_errcode(s->db);
            error = code == SQLITE_ERROR ? ERROR_FILE_NOT_FOUND : SqliteError(code);
        } else {
            Reset reset(st);
            BindText(st, 1, s->name);
            rc = sqlite3_step(st);
            error = rc == SQLITE_ROW    ? 0
                    : rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND
                                        : SqliteError(rc);
        }
    } else if (!error) {
        error = Transaction(s, [&]() -> DWORD {
            int r = Exec(s->db, kSchema);
            if (r != SQLITE_OK) return SqliteError(r);
            sqlite3_stmt* st = Statement(s, "INSERT OR IGNORE INTO stores(name) VALUES(?1)");
            if (!st) return SqliteError(sqlite3_errcode(s->db));
            Reset reset(st);
            BindText(st, 1, s->name);
            r = sqlite3_step(st);
            return r == SQLITE_DONE ? 0 : SqliteError(r);
        });
    }
    if (error) {
        CloseDb(s);
        delete s;
        return Fail<HCERTSTORE>(error, nullptr);
    }
    return s;
}

extern "C" BOOL CertCloseStore(HCERTSTORE store, DWORD /*flags*/) {
    if (!store) return TRUE;
    Store* s = StoreFromHandle(store);
    if (!s) return Fail<BOOL>(E_INVALIDARG, FALSE);
    ReleaseStore(s);
    return TRUE;
}

extern "C" PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
    Store* s = StoreFromHandle(store);
    CertContextImpl* prev = ContextFromHandle(previous);
    if (!s || (previous && !prev)) return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
    int64_t after = prev && prev->store == s ? prev->row : 0;
    AddRefStore(s);  // the previous context may hold the last reference
    if (prev) ReleaseContext(prev);
    CertContextImpl* next = NextRow(s, after, nullptr);
    ReleaseStore(s);
    return next ? &next->pub : nullptr;
}

extern "C" PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD /*encodingType*/,
                                                     DWORD /*findFlags*/, DWORD findType,
                                                     const void* para, PCCERT_CONTEXT previous) {
    Store* s = StoreFromHandle(store);
    CertContextImpl* prev = ContextFromHandle(previous);
    if (!s || (previous && !prev)) return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
    Bytes hash;
    if (findType == CERT_FIND_SHA1_HASH) {
        const auto* blob = static_cast<const CRYPT_HASH_BLOB*>(para);
        if (!blob || (blob->cbData && !blob->pbData)) {
            if (prev) ReleaseContext(prev);
            return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
        }
        hash.assign(blob->pbData, blob->pbData + blob->cbData);
    } else if (findType != CERT_FIND_ANY) {
        if (prev) ReleaseContext(prev);
        return Fail<PCCERT_CONTEXT>(E_INVALIDARG, nullptr);
    }
    int64_t after = prev && prev->store == s ? prev->row : 0;
    AddRefStore(s);
    if (prev) ReleaseContext(prev);
    CertContextImpl* next = NextRow(s, after, findType == CERT_FIND_SHA1_HASH ? &hash : nullptr);
    ReleaseStore(s);
    return next ? &next->pub : nullptr;
}

extern "C" BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context,
                                                 DWORD disposition, PCCERT_CONTEXT* storeContext) {
    if (storeContext) *storeContext = nullptr;
    Store* s = StoreFromHandle(store);
    CertContextImpl* c = ContextFromHandle(context);
    if (!s || !c) return Fail<BOOL>(E_INVALIDARG, FALSE);
    if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_ALWAYS)
        return Fail<BOOL>(E_INVALIDARG, FALSE);
    if (s->readOnly) return Fail<BOOL>(ERROR_ACCESS_DENIED, FALSE);
    CertFields fields = c->fields;
    PropertyMap props;
    {
        std::lock_guard<std::mutex> guard(c->lock);
        props = c->props;
    }
    int64_t row = 0;
    bool useExisting = false;
    std::lock_guard<std::mutex> guard(s->lock);
    DropPrefetch(s);
    DWORD error = Transaction(s, [&]() -> DWORD {
        sqlite3_stmt* find = Statement(s, "SELECT id FROM certs WHERE store = ?1 AND sha1 = ?2");
        if (!find) return SqliteError(sqlite3_errcode(s->db));
        Reset resetFind(find);
        BindText(find, 1, s->name);
        BindBlob(find, 2, fields.sha1);
        int rc = sqlite3_step(find);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return SqliteError(rc);
        if (rc == SQLITE_ROW) {
            row = sqlite3_column_int64(find, 0);
            if (disposition == CERT_STORE_ADD_NEW) return CRYPT_E_EXISTS;
            if (disposition == CERT_STORE_ADD_USE_EXISTING) {
                useExisting = true;
                return 0;
            }
        }
        sqlite3_reset(find);
        // Replacing keeps the certificate's place in the store's order.
        sqlite3_stmt* put = Statement(
            s, row ? "UPDATE certs SET store = ?1, sha1 = ?2, der = ?3, subject = ?4, issuer = ?5,"
                     " serial = ?6, key_alg = ?7, key_params = ?8, public_key = ?9,"
                     " unused_bits = ?10, sig_alg = ?11, sig_params = ?12, version = ?13,"
                     " not_before = ?14, not_after = ?15, props = ?16 WHERE id = ?17"
                   : "INSERT INTO certs(store, sha1, der, subject, issuer, serial, key_alg,"
                     " key_params, public_key, unused_bits, sig_alg, sig_params, version,"
                     " not_before, not_after, props) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9,"
                     " ?10, ?11, ?12, ?13, ?14, ?15, ?16)");
        if (!put) return SqliteError(sqlite3_errcode(s->db));
        Reset resetPut(put);
        BindText(put, 1, s->name);
        BindBlob(put, 2, fields.sha1);
        BindBlob(put, 3, fields.der);
        BindBlob(put, 4, fields.subject);
        BindBlob(put, 5, fields.issuer);
        BindBlob(put, 6, fields.serial);
        BindText(put, 7, fields.keyAlg);
        BindBlob(put, 8, fields.keyParams);
        BindBlob(put, 9, fields.publicKey);
        sqlite3_bind_int64(put, 10, fields.publicKeyUnusedBits);
        BindText(put, 11, fields.sigAlg);
        BindBlob(put, 12, fields.sigParams);
        sqlite3_bind_int64(put, 13, fields.version);
        sqlite3_bind_int64(put, 14, fields.notBefore);
        sqlite3_bind_int64(put, 15, fields.notAfter);
        BindBlob(put, 16, SerializeProperties(props));
        if (row) sqlite3_bind_int64(put, 17, row);
        rc = sqlite3_step(put);
        if (rc != SQLITE_DONE) return SqliteError(rc);
        if (!row) row = sqlite3_last_insert_rowid(s->db);
        return 0;
    });
    if (error) return Fail<BOOL>(error, FALSE);
    if (!storeContext) return TRUE;
    if (useExisting) {
        sqlite3_stmt* st =
            Statement(s, std::string("SELECT ") + kColumns + " FROM certs WHERE id = ?1");
        if (!st) return Fail<BOOL>(SqliteError(sqlite3_errcode(s->db)), FALSE);
        Reset reset(st);
        sqlite3_bind_int64(st, 1, row);
        int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW)
            return Fail<BOOL>(rc == SQLITE_DONE ? CRYPT_E_NOT_FOUND : SqliteError(rc), FALSE);
        *storeContext = &ContextFromRow(s, RowFromStatement(st))->pub;
        return TRUE;
    }
    *storeContext = &NewContext(std::move(fields), std::move(props), s, row)->pub;
    return TRUE;
}

extern "C" BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT context) {
    CertContextImpl* c = ContextFromHandle(context);
    if (!c) return Fail<BOOL>(E_INVALIDARG, FALSE);
    Store* s = c->store;
    int64_t row = c->row;
    DWORD error = 0;
    if (!s) {
        error = E_INVALIDARG;
    } else if (s->readOnly) {
        error = ERROR_ACCESS_DENIED;
    } else {
        std::lock_guard<std::mutex> guard(s->lock);
        DropPrefetch(s);
        sqlite3_stmt* st = Statement(s, "DELETE FROM certs WHERE id = ?1");
        if (!st) {
            error = SqliteError(sqlite3_errcode(s->db));
        } else {
            Reset reset(st);
            sqlite3_bind_int64(st, 1, row);
            int rc = sqlite3_step(st);
            if (rc != SQLITE_DONE) error = SqliteError(rc);
        }
    }
    ReleaseContext(c);
    return error ? Fail<BOOL>(error, FALSE) : TRUE;
}
