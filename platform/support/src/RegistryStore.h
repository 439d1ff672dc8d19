// Internal to the support library: the SQLite-backed configuration registry.
//
// Two stores: the "\config" branch lives in <machine dir>/registry.db, the
// "\local" branch in <user dir>/registry.db. Within a store a section is kept
// by its path below the branch root ("KeyDevices\Cloud\Default"; the root
// itself is "" and always exists), a value by (section path, name). Names are
// compared without regard to ASCII case and stored as first written.
#pragma once

#include <sqlite3.h>
#include <support/support.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace nimbex_support {

// Registry result codes beyond those of the public header.
constexpr TSupErr kRegAccessDenied = 5;     // store or its directory cannot be opened
constexpr TSupErr kRegNoMemory = 8;         // allocation failed
constexpr TSupErr kRegBadPath = 161;        // malformed path (ERROR_BAD_PATHNAME)
constexpr TSupErr kRegBusy = 170;           // store stayed locked past every retry
constexpr TSupErr kRegIoError = 1117;       // the database reported an I/O or other failure
constexpr TSupErr kRegCorrupt = 1392;       // the database file is damaged
constexpr TSupErr kRegTypeMismatch = 1629;  // value exists with another type

enum class ValueType : int { String = 1, Long = 2, Hex = 3 };

// A parsed registry path.
struct RegPath {
    bool machine = true;             // "\config" (true) or "\local" (false)
    std::vector<std::string> parts;  // components below the branch root
    std::string Section() const;     // all parts joined with '\'
    std::string Parent() const;      // all parts but the last, joined
    const std::string& Leaf() const { return parts.back(); }
};

// Parses "\config\a\b" or "\local\a\b\" (one trailing backslash allowed).
// Returns 0 or kRegBadPath / SUP_INVALID_PARAMETER.
TSupErr ParsePath(const char* path, RegPath* out);

// Joins components with '\'.
std::string JoinParts(const std::vector<std::string>& parts, size_t count);

// One open database of one scope. Used only under the registry lock.
class RegistryDb {
  public:
    explicit RegistryDb(sqlite3* db) : db_(db) {}
    ~RegistryDb();
    RegistryDb(const RegistryDb&) = delete;
    RegistryDb& operator=(const RegistryDb&) = delete;

    sqlite3* handle() const { return db_; }
    // A cached prepared statement, reset and with its bindings cleared.
    sqlite3_stmt* Statement(const char* sql, TSupErr* error);
    // Runs body inside BEGIN IMMEDIATE ... COMMIT, retrying while the store
    // is busy. body returns a registry code; non-zero rolls back.
    TSupErr Write(const std::function<TSupErr()>& body);
    // Leaves the connection open forever (used in a forked child, which must
    // not touch the parent's SQLite state).
    void Abandon() { db_ = nullptr; }

  private:
    sqlite3* db_;
    std::map<std::string, sqlite3_stmt*> statements_;
};

// Resets a statement when leaving a scope, so that no read stays open.
class StatementScope {
  public:
    explicit StatementScope(sqlite3_stmt* statement) : statement_(statement) {}
    ~StatementScope() {
        if (statement_) sqlite3_reset(statement_);
    }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

  private:
    sqlite3_stmt* statement_;
};

// Maps an SQLite result to a registry code.
TSupErr SqliteCode(int rc);

// Steps a statement, retrying while the store is busy; a retry resets the
// statement (a walk starts over) and calls onRestart first. Returns the
// SQLite code.
int StepWithRetry(sqlite3_stmt* statement, const std::function<void()>& onRestart = {});

// Runs fn with the database of the given scope under the registry lock.
// Opens (and creates) the database on first use in this process. A reader
// passes create = false: when the store does not exist yet, nothing is
// created and `missing` is returned instead.
TSupErr WithRegistry(bool machine, const std::function<TSupErr(RegistryDb&)>& fn,
                     bool create = true, TSupErr missing = SUP_NOT_FOUND);

// Creates every section on the chain to `parts[0..count)`. Inside Write only.
TSupErr EnsureSections(RegistryDb& db, const std::vector<std::string>& parts, size_t count);

// The directory of the machine-wide or per-user store (without creating it).
std::string RegistryDirectory(bool machine);

}  // namespace nimbex_support
