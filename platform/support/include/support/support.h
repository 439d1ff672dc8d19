/* Reader-support library: configuration registry, logging, time, localised
 * strings, installation paths and named mutexes, as the CSP's readers use them.
 *
 * Results are 32-bit codes: 0 success, 2 (SUP_NOT_FOUND) for an absent value
 * or section, 234 (SUP_MORE_DATA) when a buffer is too small; other codes are
 * real failures: 5 store not accessible, 8 no memory, 87 null argument, 161
 * malformed path, 170 store busy past every retry, 1117 I/O failure, 1392
 * damaged store, 1629 value of another type (docs/platform-support.md). */
#ifndef NIMBEX_PLATFORM_SUPPORT_H
#define NIMBEX_PLATFORM_SUPPORT_H

#include <nl_types.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t TSupErr;

#define SUP_OK 0u
#define SUP_NOT_FOUND 2u
#define SUP_INVALID_PARAMETER 87u
#define SUP_MORE_DATA 234u

/* ---- Configuration registry ------------------------------------------------
 * Paths are NUL-terminated, backslash-separated: "\config\..." is machine-wide,
 * "\local\..." per user. Names ignore ASCII case. Every function is
 * thread-safe and safe against other processes using the same store.
 * Length arguments count bytes without any terminator. A getter with a null
 * buffer writes the length and returns 0; with a buffer, *length is its
 * capacity: the value's bytes are copied (no terminator is added), *length
 * becomes the value's length, and a capacity below it answers SUP_MORE_DATA
 * without copying. */
TSupErr support_registry_get_string(const char* path, size_t* length, char* buffer);
TSupErr support_registry_put_string(const char* path, const char* text);
TSupErr support_registry_get_long(const char* path, int32_t* value);
TSupErr support_registry_put_long(const char* path, int32_t value);
TSupErr support_registry_get_hex(const char* path, size_t* length, void* buffer);
TSupErr support_registry_put_hex(const char* path, size_t length, const void* buffer);
/* flags: 0. Deleting an absent value answers SUP_NOT_FOUND. */
TSupErr support_registry_delete_param(const char* path, unsigned flags);
/* Deletes the section parent\name with everything below it. */
TSupErr support_registry_delete_section(const char* parent, const char* name);
/* 0 when the section or value exists, SUP_NOT_FOUND when not. *mode: 1 = read. */
TSupErr support_registry_check_access(const char* path, unsigned* mode);
/* Creates a section (and its parents); an existing one is left as it is. */
TSupErr support_registry_put_section(const char* path);

typedef struct support_registry_search TSupRegSearch;
typedef struct support_registry_value TSupRegValue;
/* Opens a walk over the direct entries of a section. flags 1: subsections
 * only (0: subsections and values). *count receives the number of entries.
 * An absent section answers SUP_NOT_FOUND with *handle null. */
TSupErr support_registry_search_open(const char* path, TSupRegSearch** handle, size_t* count,
                                     unsigned flags);
/* Next entry in name order; SUP_NOT_FOUND when the walk is over. */
TSupErr support_registry_search_next(TSupRegSearch* handle, TSupRegValue** value);
TSupErr support_registry_search_close(TSupRegSearch* handle);
TSupErr support_registry_value_name(const TSupRegValue* value, size_t* length, char* buffer);
TSupErr support_registry_value_free(TSupRegValue* value);

/* ---- Logging ---------------------------------------------------------------
 * A handle per module. What is printed and where is configured (NIMBEX_LOG or
 * "\config\Support\Log", see docs/platform-support.md); with nothing
 * configured the facility is silent. Level n (1..6) is bit n-1 of a mask; a
 * mask is read in five 6-bit groups folded together (0x1041041 = level 1). */
typedef struct support_print TSupportPrint;
/* Returns a handle, or null when the facility cannot be set up. */
TSupportPrint* support_print_init2(const char* module, unsigned levels);
/* Non-zero when a message at any level in mask would be printed. */
int support_print_is(const TSupportPrint* handle, unsigned mask);
void support_print(TSupportPrint* handle, unsigned level, const char* file, int line,
                   const char* function, const char* format, ...)
    __attribute__((format(printf, 6, 7)));
void support_print_done(TSupportPrint* handle);

/* ---- Time ------------------------------------------------------------------
 * A time value is microseconds since the Unix epoch; an interval is a time
 * value too. Overflow answers SUP_INVALID_PARAMETER. */
typedef struct {
    int64_t usec;
} TSupTime;
TSupErr support_gettimeofday(TSupTime* now);
/* *result = the time value of `seconds` seconds (an instant or an interval). */
TSupErr support_time_set(TSupTime* result, int64_t seconds);
TSupErr support_time_add(TSupTime* result, const TSupTime* a, const TSupTime* b);
/* *result = a - b (may be negative). */
TSupErr support_time_sub(TSupTime* result, const TSupTime* a, const TSupTime* b);

/* ---- Localised strings -----------------------------------------------------*/
typedef struct support_resource TSupResource;
struct support_resource {
    nl_catd catalog;                    /* (nl_catd)-1 until opened */
    void (*opener)(TSupResource* self); /* called once, on first use */
    int opened;                         /* set by the library as it calls opener */
};
/* Looks up string `id` (set 1 of the catalog). Size/buffer rule: *size is the
 * capacity including the terminator; on return, the length without it. Null
 * buffer or zero size: the length only. Too small: SUP_MORE_DATA. Absent
 * catalog or string: SUP_NOT_FOUND. */
TSupErr support_resource_string(TSupResource* resource, unsigned id, char* buffer, size_t* size);
/* Makes `locale` (a LC_MESSAGES name) the one catalogs are looked up for. */
TSupErr support_init_locale(const char* locale);

/* ---- Installation paths ----------------------------------------------------
 * A record of machine words; word 11 is the directory of the CSP's libraries
 * (NIMBEX_LIB_DIR, default the directory libnimbex.so was loaded from). */
typedef struct {
    uintptr_t size;          /* word 1: number of words in the record */
    const char* prefix;      /* word 2 */
    const char* etc_dir;     /* word 3 */
    const char* var_dir;     /* word 4 */
    const char* machine_dir; /* word 5 */
    const char* user_dir;    /* word 6 */
    const char* runtime_dir; /* word 7 */
    const char* bin_dir;     /* word 8 */
    const char* share_dir;   /* word 9 */
    const char* locale_dir;  /* word 10 */
    const char* lib_dir;     /* word 11 */
} TCspPaths;
const TCspPaths* csp_get_paths(void);

/* ---- Named mutex -----------------------------------------------------------
 * One name excludes every holder in every thread and process; a process that
 * dies holding it releases it. Names have no '/'; flags are reserved (0).
 * Not recursive: the holding thread locking again answers 1131; unlocking a
 * handle that does not hold the mutex answers 288. */
typedef struct ubi_mutex ubi_mutex_t;
TSupErr ubi_mutex_open(ubi_mutex_t** mutex, const char* name, unsigned flags);
TSupErr ubi_mutex_lock(ubi_mutex_t* mutex);
TSupErr ubi_mutex_unlock(ubi_mutex_t* mutex);
TSupErr ubi_mutex_close(ubi_mutex_t* mutex);

#ifdef __cplusplus
}
#endif

#endif
