// Registry sections: creation, existence, subtree deletion and the walk over
// a section's entries.
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "RegistryStore.h"

using namespace nimbex_support;

struct support_registry_value {
    std::string name;
    bool section;
};

struct support_registry_search {
    std::vector<support_registry_value> entries;
    size_t next = 0;
};

namespace {

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

// 0 when the section exists (the branch root always does), SUP_NOT_FOUND when
// not, or a failure code.
TSupErr SectionExists(RegistryDb& db, const std::string& section) {
    if (section.empty()) return 0;
    TSupErr error = 0;
    sqlite3_stmt* select = db.Statement("SELECT 1 FROM sections WHERE path = ?1", &error);
    if (!select) return error;
    StatementScope scope(select);
    BindText(select, 1, section);
    int rc = StepWithRetry(select);
    if (rc == SQLITE_ROW) return 0;
    return rc == SQLITE_DONE ? SUP_NOT_FOUND : SqliteCode(rc);
}

TSupErr ValueExists(RegistryDb& db, const RegPath& path) {
    if (path.parts.empty()) return SUP_NOT_FOUND;
    TSupErr error = 0;
    sqlite3_stmt* select =
        db.Statement("SELECT 1 FROM vals WHERE section = ?1 AND name = ?2", &error);
    if (!select) return error;
    StatementScope scope(select);
    BindText(select, 1, path.Parent());
    BindText(select, 2, path.Leaf());
    int rc = StepWithRetry(select);
    if (rc == SQLITE_ROW) return 0;
    return rc == SQLITE_DONE ? SUP_NOT_FOUND : SqliteCode(rc);
}

// Runs a statement whose parameters are the section (1) and the bounds of its
// subtree (2, 3): everything whose path starts with section + "\".
TSupErr RunOnSubtree(RegistryDb& db, const char* sql, const std::string& section) {
    TSupErr error = 0;
    sqlite3_stmt* statement = db.Statement(sql, &error);
    if (!statement) return error;
    StatementScope scope(statement);
    BindText(statement, 1, section);
    BindText(statement, 2, section + "\\");
    BindText(statement, 3, section + "]");  // ']' is the character after '\'
    int rc = sqlite3_step(statement);
    return rc == SQLITE_DONE ? 0 : SqliteCode(rc);
}

}  // namespace

extern "C" {

TSupErr support_registry_put_section(const char* path) {
    RegPath parsed;
    TSupErr code = ParsePath(path, &parsed);
    if (code != 0) return code;
    if (parsed.parts.empty()) return 0;
    return WithRegistry(parsed.machine, [&](RegistryDb& db) -> TSupErr {
        return db.Write([&]() { return EnsureSections(db, parsed.parts, parsed.parts.size()); });
    });
}

TSupErr support_registry_check_access(const char* path, unsigned* mode) {
    (void)mode;  // every existing entry may be read and written
    RegPath parsed;
    TSupErr code = ParsePath(path, &parsed);
    if (code != 0) return code;
    return WithRegistry(
        parsed.machine,
        [&](RegistryDb& db) -> TSupErr {
            TSupErr found = SectionExists(db, parsed.Section());
            if (found != SUP_NOT_FOUND) return found;
            return ValueExists(db, parsed);
        },
        false, parsed.parts.empty() ? SUP_OK : SUP_NOT_FOUND);
}

TSupErr support_registry_delete_section(const char* parent, const char* name) {
    if (!parent || !name) return SUP_INVALID_PARAMETER;
    if (!*name) return kRegBadPath;
    std::string full = parent;
    while (!full.empty() && full.back() == '\\') full.pop_back();
    full += '\\';
    full += name;
    RegPath parsed;
    TSupErr code = ParsePath(full.c_str(), &parsed);
    if (code != 0) return code;
    if (parsed.parts.empty()) return kRegBadPath;  // a branch root cannot be deleted
    std::string section = parsed.Section();
    return WithRegistry(
        parsed.machine,
        [&](RegistryDb& db) -> TSupErr {
            return db.Write([&]() -> TSupErr {
                TSupErr error = SectionExists(db, section);
                if (error != 0) return error;
                error = RunOnSubtree(
                    db, "DELETE FROM vals WHERE section = ?1 OR (section >= ?2 AND section < ?3)",
                    section);
                if (error != 0) return error;
                return RunOnSubtree(
                    db, "DELETE FROM sections WHERE path = ?1 OR (path >= ?2 AND path < ?3)",
                    section);
            });
        },
        false);
}

TSupErr support_registry_search_open(const char* path, TSupRegSearch** handle, size_t* count,
                                     unsigned flags) {
    if (!handle) return SUP_INVALID_PARAMETER;
    *handle = nullptr;
    RegPath parsed;
    TSupErr code = ParsePath(path, &parsed);
    if (code != 0) return code;
    std::string section = parsed.Section();
    TSupRegSearch* search = new (std::nothrow) TSupRegSearch();
    if (!search) return kRegNoMemory;
    const char* sql = (flags & 1) ? "SELECT name, 1 FROM sections WHERE parent = ?1"
                                    " ORDER BY name COLLATE NOCASE, name"
                                  : "SELECT name, 1 FROM sections WHERE parent = ?1"
                                    " UNION ALL SELECT name, 0 FROM vals WHERE section = ?1"
                                    " ORDER BY 1 COLLATE NOCASE, 1, 2 DESC";
    code = WithRegistry(
        parsed.machine,
        [&](RegistryDb& db) -> TSupErr {
            TSupErr error = SectionExists(db, section);
            if (error != 0) return error;
            sqlite3_stmt* select = db.Statement(sql, &error);
            if (!select) return error;
            StatementScope scope(select);
            BindText(select, 1, section);
            int rc;
            // A retry after a busy step starts the query over: the rows taken
            // so far are dropped.
            while ((rc = StepWithRetry(select, [&] { search->entries.clear(); })) == SQLITE_ROW) {
                const unsigned char* name = sqlite3_column_text(select, 0);
                int size = sqlite3_column_bytes(select, 0);
                search->entries.push_back(
                    {std::string(reinterpret_cast<const char*>(name), static_cast<size_t>(size)),
                     sqlite3_column_int(select, 1) != 0});
            }
            return rc == SQLITE_DONE ? 0 : SqliteCode(rc);
        },
        false, parsed.parts.empty() ? SUP_OK : SUP_NOT_FOUND);
    if (code != 0) {
        delete search;
        return code;
    }
    if (count) *count = search->entries.size();
    *handle = search;
    return 0;
}

TSupErr support_registry_search_next(TSupRegSearch* handle, TSupRegValue** value) {
    if (!handle || !value) return SUP_INVALID_PARAMETER;
    *value = nullptr;
    if (handle->next >= handle->entries.size()) return SUP_NOT_FOUND;
    TSupRegValue* entry = new (std::nothrow) TSupRegValue(handle->entries[handle->next]);
    if (!entry) return kRegNoMemory;
    ++handle->next;
    *value = entry;
    return 0;
}

TSupErr support_registry_search_close(TSupRegSearch* handle) {
    delete handle;
    return 0;
}

TSupErr support_registry_value_name(const TSupRegValue* value, size_t* length, char* buffer) {
    if (!value || !length) return SUP_INVALID_PARAMETER;
    size_t size = value->name.size();
    if (!buffer) {
        *length = size;
        return 0;
    }
    size_t capacity = *length;
    *length = size;
    if (capacity < size) return SUP_MORE_DATA;
    memcpy(buffer, value->name.data(), size);
    return 0;
}

TSupErr support_registry_value_free(TSupRegValue* value) {
    delete value;
    return 0;
}

}  // extern "C"
