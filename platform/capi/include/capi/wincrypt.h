/* CryptoAPI-style certificate stores, certificate contexts and providers.
 *
 * System stores ("My", ...) of the current user and of the machine persist in
 * <user dir>/certstore.db and <machine dir>/certstore.db (SQLite, shared by
 * every process). Providers are registered in the configuration registry
 * under "\config\Providers\<name>". Every function sets the thread's last
 * error (GetLastError) when it fails. See docs/certstore.md. */
#ifndef NIMBEX_PLATFORM_WINCRYPT_H
#define NIMBEX_PLATFORM_WINCRYPT_H

#include "capi/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HCERTSTORE;
typedef uintptr_t HCRYPTPROV;
typedef uintptr_t HCRYPTPROV_LEGACY;

typedef struct _CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, CRYPT_HASH_BLOB,
    *PCRYPT_HASH_BLOB, CERT_NAME_BLOB, *PCERT_NAME_BLOB, CRYPT_OBJID_BLOB, *PCRYPT_OBJID_BLOB,
    CRYPT_DER_BLOB, *PCRYPT_DER_BLOB;

typedef struct _CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId; /* dotted OID text */
    CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _CERT_INFO {
    DWORD dwVersion;                 /* 0 = v1, 2 = v3 */
    CRYPT_INTEGER_BLOB SerialNumber; /* least significant byte first */
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer; /* DER of the Name */
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject; /* DER of the Name */
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    void* rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef struct _CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore; /* null for a context that belongs to no store */
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct _CRYPT_KEY_PROV_PARAM {
    DWORD dwParam;
    BYTE* pbData;
    DWORD cbData;
    DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM, *PCRYPT_KEY_PROV_PARAM;

typedef struct _CRYPT_KEY_PROV_INFO {
    LPWSTR pwszContainerName;
    LPWSTR pwszProvName;
    DWORD dwProvType;
    DWORD dwFlags;
    DWORD cProvParam;
    PCRYPT_KEY_PROV_PARAM rgProvParam;
    DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO, *PCRYPT_KEY_PROV_INFO;

/* Encodings */
#define X509_ASN_ENCODING 0x00000001u
#define PKCS_7_ASN_ENCODING 0x00010000u

/* CertOpenStore */
#define CERT_STORE_PROV_SYSTEM_W ((LPCSTR)(uintptr_t)10)
#define CERT_STORE_PROV_SYSTEM CERT_STORE_PROV_SYSTEM_W
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000u
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000u
#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000u
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000u
#define CERT_STORE_CREATE_NEW_FLAG 0x00002000u
#define CERT_STORE_READONLY_FLAG 0x00008000u

/* CertAddCertificateContextToStore dispositions */
#define CERT_STORE_ADD_NEW 1u
#define CERT_STORE_ADD_USE_EXISTING 2u
#define CERT_STORE_ADD_REPLACE_EXISTING 3u
#define CERT_STORE_ADD_ALWAYS 4u

/* CertFindCertificateInStore */
#define CERT_FIND_ANY 0u
#define CERT_FIND_SHA1_HASH 0x00010000u
#define CERT_FIND_HASH CERT_FIND_SHA1_HASH

/* Certificate properties */
#define CERT_KEY_PROV_INFO_PROP_ID 2u
#define CERT_SHA1_HASH_PROP_ID 3u
#define CERT_HASH_PROP_ID CERT_SHA1_HASH_PROP_ID
#define CERT_FRIENDLY_NAME_PROP_ID 11u

/* CertNameToStrA string types and flags */
#define CERT_SIMPLE_NAME_STR 1u
#define CERT_OID_NAME_STR 2u
#define CERT_X500_NAME_STR 3u
#define CERT_NAME_STR_SEMICOLON_FLAG 0x40000000u
#define CERT_NAME_STR_NO_PLUS_FLAG 0x20000000u
#define CERT_NAME_STR_NO_QUOTING_FLAG 0x10000000u
#define CERT_NAME_STR_CRLF_FLAG 0x08000000u
#define CERT_NAME_STR_COMMA_FLAG 0x04000000u
#define CERT_NAME_STR_REVERSE_FLAG 0x02000000u

/* Providers */
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u
#define CRYPT_FIRST 1u
#define CRYPT_NEXT 2u
#define PP_NAME 4u
#define PP_PROVTYPE 16u
/* Readers a provider can use: entries of two NUL-terminated strings (the
 * reader's nickname and its name), enumerated with CRYPT_FIRST then 0. */
#define PP_ENUMREADERS 0x72u
/* Provider preference: a 32-bit value; 1 marks the provider of choice. */
#define PP_PREFERRED 0x81u

/* Key specs */
#define AT_KEYEXCHANGE 1u
#define AT_SIGNATURE 2u

/* Error codes (GetLastError) */
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_PROV_TYPE_NOT_DEF 0x80090017u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_PROV_TYPE_NO_MATCH 0x8009001Bu
#define NTE_FAIL 0x80090020u
#define E_INVALIDARG 0x80070057u
#define CRYPT_E_NOT_FOUND 0x80092004u
#define CRYPT_E_EXISTS 0x80092005u
#define CRYPT_E_ASN1_BADTAG 0x8009310Bu
#define CRYPT_E_ASN1_CORRUPT 0x80093106u
#define CRYPT_E_FILE_ERROR 0x80092003u
#ifndef ERROR_BUSY
#define ERROR_BUSY 170u
#endif
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6u
#endif

/* ---- Stores ---------------------------------------------------------------
 * CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, location | flags, L"My").
 * With CERT_STORE_OPEN_EXISTING_FLAG a store that was never written fails
 * with ERROR_FILE_NOT_FOUND. Store handles are reference counted: a context
 * taken from a store keeps the store open until the context is freed. */
HCERTSTORE CertOpenStore(LPCSTR storeProvider, DWORD encodingType, HCRYPTPROV_LEGACY cryptProv,
                         DWORD flags, const void* para);
BOOL CertCloseStore(HCERTSTORE store, DWORD flags);

/* In the order certificates were first added (replacing keeps the place).
 * Frees `previous`; returns null with CRYPT_E_NOT_FOUND at the end. */
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous);

/* findType CERT_FIND_SHA1_HASH (para: const CRYPT_HASH_BLOB*) or CERT_FIND_ANY.
 * Frees `previous`. Null with CRYPT_E_NOT_FOUND when nothing more matches. */
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE store, DWORD encodingType, DWORD findFlags,
                                          DWORD findType, const void* para,
                                          PCCERT_CONTEXT previous);

/* Adds a copy of the certificate with its properties. The optional
 * storeContext receives the store's context (free it). */
BOOL CertAddCertificateContextToStore(HCERTSTORE store, PCCERT_CONTEXT context, DWORD disposition,
                                      PCCERT_CONTEXT* storeContext);

/* Removes the certificate from its store and frees the context (also on
 * failure). */
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT context);

/* ---- Contexts ---------------------------------------------------------------*/
PCCERT_CONTEXT CertCreateCertificateContext(DWORD encodingType, const BYTE* encoded,
                                            DWORD encodedLength);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);

/* Size rule: a null data pointer asks for the size; too small a capacity
 * writes the size and fails with ERROR_MORE_DATA. An absent property fails
 * with CRYPT_E_NOT_FOUND. Property 2 comes back as one block: the
 * CRYPT_KEY_PROV_INFO followed by everything its pointers point to. */
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data,
                                       DWORD* dataLength);
/* Property 2: data is a CRYPT_KEY_PROV_INFO*; other ids a CRYPT_DATA_BLOB*.
 * A null data pointer removes the property. On a store's context the change
 * is written to the store. Property 3 is computed and cannot be set. */
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, DWORD flags,
                                       const void* data);

/* Renders a DER Name. Returns the characters written including the
 * terminator; with a null buffer or zero size, the size needed. An empty name
 * gives "" (answer 1). */
DWORD CertNameToStrA(DWORD encodingType, const CERT_NAME_BLOB* name, DWORD stringType, LPSTR buffer,
                     DWORD size);

/* ---- Providers --------------------------------------------------------------
 * name buffer size in bytes (including the terminator); a null buffer asks
 * for it; ERROR_NO_MORE_ITEMS past the last provider. */
BOOL CryptEnumProvidersW(DWORD index, DWORD* reserved, DWORD flags, DWORD* provType,
                         LPWSTR provName, DWORD* provNameLength);
/* Only CRYPT_VERIFYCONTEXT handles: the provider holds no local containers. */
BOOL CryptAcquireContextW(HCRYPTPROV* prov, LPCWSTR container, LPCWSTR provName, DWORD provType,
                          DWORD flags);
BOOL CryptGetProvParam(HCRYPTPROV prov, DWORD param, BYTE* data, DWORD* dataLength, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags);

#ifdef __cplusplus
}
#endif

#endif
