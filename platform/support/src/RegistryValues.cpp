// Registry values: typed reads and writes and value deletion.
#include <string.h>

#include <string>

#include "RegistryStore.h"

using namespace nimbex_support;

namespace {

const char kSelectValue[] = "SELECT type, data FROM vals WHERE section = ?1 AND name = ?2";
const char kUpsertValue[] =
    "INSERT INTO vals(section, name, type, data) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT(section, name) DO UPDATE SET type = excluded.type, data = excluded.data";

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

TSupErr ParseValuePath(const char* path, RegPath* out) {
    TSupErr code = ParsePath(path, out);
    if (code == 0 && out->parts.empty()) code = kRegBadPath;  // a branch root is no value
    return code;
}

// Reads a value of the given type: its bytes (string, hex) or number (long).
TSupErr ReadValue(const char* path, ValueType type, std::string* bytes, int32_t* number) {
    RegPath parsed;
    TSupErr code = ParseValuePath(path, &parsed);
    if (code != 0) return code;
    return WithRegistry(
        parsed.machine,
        [&](RegistryDb& db) -> TSupErr {
            TSupErr error = 0;
            sqlite3_stmt* select = db.Statement(kSelectValue, &error);
            if (!select) return error;
            StatementScope scope(select);
            BindText(select, 1, parsed.Parent());
            BindText(select, 2, parsed.Leaf());
            int rc = StepWithRetry(select);
            if (rc == SQLITE_DONE) return SUP_NOT_FOUND;
            if (rc != SQLITE_ROW) return SqliteCode(rc);
            if (sqlite3_column_int(select, 0) != static_cast<int>(type)) return kRegTypeMismatch;
            if (type == ValueType::Long) {
                *number = static_cast<int32_t>(sqlite3_column_int64(select, 1));
            } else {
                const void* data = sqlite3_column_blob(select, 1);
                int size = sqlite3_column_bytes(select, 1);
                if (data && size > 0)
                    bytes->assign(static_cast<const char*>(data), static_cast<size_t>(size));
                else
                    bytes->clear();
            }
            return 0;
        },
        false);
}

// Writes a value, creating its section chain. `bytes` is used for string and
// hex values, `number` for long ones.
TSupErr WriteValue(const char* path, ValueType type, const void* bytes, size_t size,
                   int32_t number) {
    RegPath parsed;
    TSupErr code = ParseValuePath(path, &parsed);
    if (code != 0) return code;
    if (size > 0x7FFFFFFF) return SUP_INVALID_PARAMETER;
    return WithRegistry(parsed.machine, [&](RegistryDb& db) -> TSupErr {
        return db.Write([&]() -> TSupErr {
            TSupErr error = EnsureSections(db, parsed.parts, parsed.parts.size() - 1);
            if (error != 0) return error;
            sqlite3_stmt* upsert = db.Statement(kUpsertValue, &error);
            if (!upsert) return error;
            StatementScope scope(upsert);
            BindText(upsert, 1, parsed.Parent());
            BindText(upsert, 2, parsed.Leaf());
            sqlite3_bind_int(upsert, 3, static_cast<int>(type));
            if (type == ValueType::Long)
                sqlite3_bind_int64(upsert, 4, number);
            else  // a non-null pointer keeps an empty value a zero-length blob, not NULL
                sqlite3_bind_blob(upsert, 4, size ? bytes : "", static_cast<int>(size),
                                  SQLITE_TRANSIENT);
            int rc = sqlite3_step(upsert);
            return rc == SQLITE_DONE ? 0 : SqliteCode(rc);
        });
    });
}

// The getters' length/buffer rule.
TSupErr CopyOut(const std::string& value, size_t* length, void* buffer) {
    if (!buffer) {
        *length = value.size();
        return 0;
    }
    size_t capacity = *length;
    *length = value.size();
    if (capacity < value.size()) return SUP_MORE_DATA;
    if (!value.empty()) memcpy(buffer, value.data(), value.size());
    return 0;
}

}  // namespace

extern "C" {

TSupErr support_registry_get_string(const char* path, size_t* length, char* buffer) {
    if (!length) return SUP_INVALID_PARAMETER;
    std::string value;
    TSupErr code = ReadValue(path, ValueType::String, &value, nullptr);
    if (code != 0) return code;
    return CopyOut(value, length, buffer);
}

TSupErr support_registry_put_string(const char* path, const char* text) {
    if (!text) return SUP_INVALID_PARAMETER;
    return WriteValue(path, ValueType::String, text, strlen(text), 0);
}

TSupErr support_registry_get_long(const char* path, int32_t* value) {
    if (!value) return SUP_INVALID_PARAMETER;
    int32_t number = 0;
    TSupErr code = ReadValue(path, ValueType::Long, nullptr, &number);
    if (code == 0) *value = number;
    return code;
}

TSupErr support_registry_put_long(const char* path, int32_t value) {
    return WriteValue(path, ValueType::Long, nullptr, 0, value);
}

TSupErr support_registry_get_hex(const char* path, size_t* length, void* buffer) {
    if (!length) return SUP_INVALID_PARAMETER;
    std::string value;
    TSupErr code = ReadValue(path, ValueType::Hex, &value, nullptr);
    if (code != 0) return code;
    return CopyOut(value, length, buffer);
}

TSupErr support_registry_put_hex(const char* path, size_t length, const void* buffer) {
    if (!buffer && length) return SUP_INVALID_PARAMETER;
    return WriteValue(path, ValueType::Hex, buffer, length, 0);
}

TSupErr support_registry_delete_param(const char* path, unsigned flags) {
    (void)flags;
    RegPath parsed;
    TSupErr code = ParseValuePath(path, &parsed);
    if (code != 0) return code;
    return WithRegistry(
        parsed.machine,
        [&](RegistryDb& db) -> TSupErr {
            return db.Write([&]() -> TSupErr {
                TSupErr error = 0;
                sqlite3_stmt* remove =
                    db.Statement("DELETE FROM vals WHERE section = ?1 AND name = ?2", &error);
                if (!remove) return error;
                StatementScope scope(remove);
                BindText(remove, 1, parsed.Parent());
                BindText(remove, 2, parsed.Leaf());
                int rc = sqlite3_step(remove);
                if (rc != SQLITE_DONE) return SqliteCode(rc);
                // Nothing changed: roll the empty transaction back and say so.
                return sqlite3_changes(db.handle()) == 0 ? SUP_NOT_FOUND : 0;
            });
        },
        false);
}

}  // extern "C"
