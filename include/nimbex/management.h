/* The management interface of libnimbex: what configuration tools call to
 * list, save, delete and discover the signature services the reader uses,
 * to list a service's certificates and install one into the store "My" with
 * its link to a cloud container, to sign out and to read or set the
 * connection time-out.
 *
 * Every function returns a code: 0 success, 2 not found, 87 invalid
 * parameter, 234 buffer too small (the needed size is written back), 259 no
 * more items, 0x80090029 not supported, 0x80090020 unexpected failure, or the
 * code of the failure the module met (a service, transport or registry
 * code). Strings are 8-bit and NUL-terminated; every pointer in a record is
 * the caller's, except those an enumeration writes, which point into the
 * enumeration handle and stay valid until it is closed. */
#ifndef NIMBEX_MANAGEMENT_H
#define NIMBEX_MANAGEMENT_H

#include <nimbex/export.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One service entry. The record grows by level: the "Extended" functions
 * take the number of the last level the caller's record has; level 0 uses
 * the first five fields, level 1 adds description and isTestService, level
 * 2 and above add docstoreUrl. The other functions use level 0. */
typedef struct CloudServerSettings {
    const char* name;     /* the entry's name; required */
    const char* authUrl;  /* authentication server; set together with signUrl */
    const char* signUrl;  /* signature (REST) server */
    const char* userName; /* optional saved user name */
    const char* password; /* optional saved password; enumeration writes null */
    /* level 1 */
    const char* description;
    int32_t isTestService; /* non-zero: a test service */
    /* level 2 */
    const char* docstoreUrl; /* document store; null or empty when there is none */
} CloudServerSettings;

/* One certificate of a service. Lengths are the buffer sizes on the way in
 * and the sizes needed or written on the way out. */
typedef struct CloudCertificateInfo {
    uint8_t* certificate; /* DER-encoded X.509 certificate */
    uint32_t certificateLength;
    uint32_t certificateId;       /* the service's id of the certificate */
    uint32_t keySpec;             /* the key's KeySpec on the service */
    uint32_t keyPermissions;      /* the key's permissions on the service */
    uint8_t* containerExtensions; /* the key's container-extensions blob */
    uint32_t containerExtensionsLength;
    char* friendlyName; /* receives the NUL-terminated friendly name */
    uint32_t friendlyNameCapacity;
} CloudCertificateInfo;

typedef struct CloudServerSettingsEnum CloudServerSettingsEnum;
typedef struct KelCertificatesEnum KelCertificatesEnum;

/* ---- service settings */

/* Stores the entry's URLs (both or neither must be given) in the machine-wide
 * branch when machineWide is non-zero, else in the user's, and then the user
 * name and password when both are given. A record with credentials but no
 * URLs updates the credentials of a stored entry (2 when there is none). */
NIMBEX_API uint32_t SaveCloudServerSettings(const CloudServerSettings* settings,
                                            uintptr_t machineWide);
NIMBEX_API uint32_t SaveExtendedCloudServerSettings(const CloudServerSettings* settings,
                                                    uint32_t level, uintptr_t machineWide);
/* Removes the entry (the user's first) and the credentials saved for it. */
NIMBEX_API uint32_t DeleteCloudServerSettings(const char* name);

/* Enumerations over the stored entries (machine-wide first) or over those a
 * service's discovery document at baseUrl lists (nothing is stored). 2 when
 * there is none; 87 when an entry has a name or URL longer than 256 bytes. */
NIMBEX_API uint32_t CloudServerSettingsEnumOpen(CloudServerSettingsEnum** handle);
NIMBEX_API uint32_t CloudServerSettingsEnumOpenFromDiscovery(const char* baseUrl,
                                                             CloudServerSettingsEnum** handle);
/* Fills the record up to its level from the next entry (259 after the last);
 * the password is always null. */
NIMBEX_API uint32_t CloudServerSettingsEnumNext(CloudServerSettingsEnum* handle,
                                                CloudServerSettings* settings);
NIMBEX_API uint32_t ExtendedCloudServerSettingsEnumNext(CloudServerSettingsEnum* handle,
                                                        uint32_t level,
                                                        CloudServerSettings* settings);
NIMBEX_API void CloudServerSettingsEnumClose(CloudServerSettingsEnum* handle);

/* Stores entries for the services that linked certificates of the user's
 * store name, or that the discovery document at baseUrl lists, when no
 * stored entry knows them. Failures are not reported. */
NIMBEX_API void UpdateCloudServerSettings(void);
NIMBEX_API void UpdateCloudServerSettingsUsingDiscovery(const char* baseUrl);

/* ---- certificates */

/* Signs in to the service (the stored entry of that name, else the record's
 * URLs) and lists the user's certificates with their key details. */
NIMBEX_API uint32_t KelCertificatesEnumOpen(const CloudServerSettings* settings,
                                            KelCertificatesEnum** handle);
NIMBEX_API uint32_t ExtendedKelCertificatesEnumOpen(const CloudServerSettings* settings,
                                                    uint32_t level, KelCertificatesEnum** handle);
/* Moves the next certificate into info. A null buffer asks for its size: the
 * size is written and nothing copied. A buffer too small gets the size needed
 * written and the result 234. The certificate stays next unless both buffers
 * (the extensions one only when the key has extensions) are given and large
 * enough; otherwise the result is 234 when a buffer was too small, else 0.
 * 259 after the last. A friendly name that does not fit comes back empty. */
NIMBEX_API uint32_t KelCertificateEnumNext(KelCertificatesEnum* handle, CloudCertificateInfo* info);
/* This module's addition: whether the key of the certificate that the next
 * KelCertificateEnumNext hands out has a PIN, as the service's list says:
 * 0 not stated, 1 yes, 2 no. 259 after the last. */
NIMBEX_API uint32_t KelCertificateEnumHasPin(KelCertificatesEnum* handle, uint32_t* hasPin);
NIMBEX_API void KelCertificatesEnumClose(KelCertificatesEnum* handle);

/* Installs the certificate into the store "My" of the machine (machineWide
 * non-zero) or of the user, linked to the cloud container containerName
 * (null: the name FormContainerName gives). providerName and providerType
 * name the CSP provider of the link; null and 0 let the module choose it
 * from the key's algorithm. A service not stored yet is stored first. */
NIMBEX_API uint32_t SetCloudCertificateToStore(const CloudServerSettings* settings,
                                               const CloudCertificateInfo* info,
                                               const char* containerName, uintptr_t machineWide,
                                               const wchar_t* providerName, uint32_t providerType);
/* The container name a certificate of the service gets ("KEL-" and 36
 * characters). *size: the buffer's size in, the size needed (with the NUL)
 * out when the buffer is null or too small (then 234). */
NIMBEX_API uint32_t FormContainerName(const CloudServerSettings* settings, uint32_t certificateId,
                                      char* buffer, uint32_t* size);
/* Removes from the user's store "My" the certificates linked to the stored
 * service `name` whose keys the service no longer has (0x80090029 for a
 * service without the second API version). */
NIMBEX_API uint32_t UpdateCloudCertificates(const char* name);

/* ---- sign-out and connection */

/* Signs the user out through the browser application, forgets the tokens
 * and deletes the saved credentials of the service. */
NIMBEX_API uint32_t KelDropAuthCookies(const CloudServerSettings* settings);
/* The connection time-out of every connector, in milliseconds (read back at
 * most 65535; default 30000). */
NIMBEX_API uint32_t KelSetConnectionTimeout(int32_t timeout);
NIMBEX_API uint32_t KelGetConnectionTimeout(uint16_t* timeout);

#ifdef __cplusplus
}
#endif

#endif
