// CertNameToStrA: renders a DER Name as text.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>

#include "CertInternal.h"

using namespace capi;

namespace {

// Attribute keys of the X.500 form.
const char* X500Key(int nid) {
    switch (nid) {
        case NID_commonName:
            return "CN";
        case NID_organizationName:
            return "O";
        case NID_organizationalUnitName:
            return "OU";
        case NID_countryName:
            return "C";
        case NID_localityName:
            return "L";
        case NID_stateOrProvinceName:
            return "S";
        case NID_streetAddress:
            return "STREET";
        case NID_pkcs9_emailAddress:
            return "E";
        case NID_title:
            return "T";
        case NID_givenName:
            return "G";
        case NID_surname:
            return "SN";
        case NID_initials:
            return "I";
        case NID_domainComponent:
            return "DC";
        case NID_serialNumber:
            return "SERIALNUMBER";
        default:
            return nullptr;
    }
}

std::string OidText(const ASN1_OBJECT* obj) {
    char text[128];
    int n = OBJ_obj2txt(text, sizeof text, obj, 1);
    return n > 0 && n < static_cast<int>(sizeof text) ? std::string(text, static_cast<size_t>(n))
                                                      : std::string();
}

std::string ValueText(const ASN1_STRING* value) {
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, value);
    if (n >= 0) {
        std::string out(reinterpret_cast<char*>(utf8), static_cast<size_t>(n));
        OPENSSL_free(utf8);
        return out;
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "#";
    const unsigned char* p = ASN1_STRING_get0_data(value);
    for (int i = 0; i < ASN1_STRING_length(value); ++i) {
        out.push_back(hex[p[i] >> 4]);
        out.push_back(hex[p[i] & 15]);
    }
    return out;
}

std::string Quote(const std::string& v) {
    bool needs = v.empty() || v.front() == ' ' || v.back() == ' ' ||
                 v.find_first_of(",+=\"\r\n<>#;") != std::string::npos;
    if (!needs) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string Render(const X509_NAME* name, DWORD type) {
    DWORD form = type & 0xFFFF;
    bool reverse = (type & CERT_NAME_STR_REVERSE_FLAG) != 0;
    bool noPlus = (type & CERT_NAME_STR_NO_PLUS_FLAG) != 0;
    bool noQuote = (type & CERT_NAME_STR_NO_QUOTING_FLAG) != 0;
    const char* separator = ", ";
    if (type & CERT_NAME_STR_SEMICOLON_FLAG) separator = "; ";
    if (type & CERT_NAME_STR_CRLF_FLAG) separator = "\r\n";
    if (type & CERT_NAME_STR_COMMA_FLAG) separator = ", ";
    int count = X509_NAME_entry_count(name);
    std::string out;
    int previousSet = -1;
    for (int k = 0; k < count; ++k) {
        int i = reverse ? count - 1 - k : k;
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        int set = X509_NAME_ENTRY_set(e);
        if (k > 0) out += (set == previousSet && !noPlus) ? " + " : separator;
        previousSet = set;
        const ASN1_OBJECT* obj = X509_NAME_ENTRY_get_object(e);
        std::string value = ValueText(X509_NAME_ENTRY_get_data(e));
        if (!noQuote) value = Quote(value);
        if (form == CERT_SIMPLE_NAME_STR) {
            out += value;
            continue;
        }
        const char* key = form == CERT_X500_NAME_STR ? X500Key(OBJ_obj2nid(obj)) : nullptr;
        out += key ? std::string(key) : (form == CERT_X500_NAME_STR ? "OID." : "") + OidText(obj);
        out += "=";
        out += value;
    }
    return out;
}

}  // namespace

extern "C" DWORD CertNameToStrA(DWORD /*encodingType*/, const CERT_NAME_BLOB* name,
                                DWORD stringType, LPSTR buffer, DWORD size) {
    std::string text;
    if (!name || (name->cbData && !name->pbData)) {
        SetLastError(E_INVALIDARG);
    } else if (name->cbData) {
        const unsigned char* p = name->pbData;
        X509_NAME* parsed = d2i_X509_NAME(nullptr, &p, static_cast<long>(name->cbData));
        if (parsed && p == name->pbData + name->cbData)
            text = Render(parsed, stringType);
        else
            SetLastError(CRYPT_E_ASN1_BADTAG);
        X509_NAME_free(parsed);
    }
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (!buffer || size == 0) return needed;
    DWORD n = needed <= size ? needed : size;
    memcpy(buffer, text.data(), n - 1);
    buffer[n - 1] = '\0';
    return n;
}
