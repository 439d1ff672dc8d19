/* Windows-style base types, constants and error codes of the CryptoAPI-style
 * library. wchar_t is 4 bytes on this platform. */
#ifndef NIMBEX_PLATFORM_WINTYPES_H
#define NIMBEX_PLATFORM_WINTYPES_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef wchar_t WCHAR;
typedef char CHAR;
typedef BYTE* PBYTE;
typedef DWORD* LPDWORD;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef BOOL* LPBOOL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define CP_ACP 0
#define CP_UTF8 65001

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_FLAGS 1004u
#define ERROR_MORE_DATA 234u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_NO_UNICODE_TRANSLATION 1113u

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

/* Per-thread last error. */
DWORD GetLastError(void);
void SetLastError(DWORD code);

/* Code pages 0 (CP_ACP) and 65001 (CP_UTF8) are UTF-8. A source length of -1
 * converts up to and including the terminator; a destination size of 0 asks
 * for the needed size (in characters). Invalid input or a too small
 * destination answers 0 with the last error set. */
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR dest,
                        int destLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR dest,
                        int destLength, LPCSTR defaultChar, LPBOOL usedDefaultChar);

/* FORMAT_MESSAGE_FROM_SYSTEM: the text of a Windows-style error code
 * (0x8009xxxx, 0x8010xxxx, Win32 codes); 0 when the code is unknown. Returns
 * the number of characters written, without the terminator. */
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);

#ifdef __cplusplus
}
#endif

#endif
