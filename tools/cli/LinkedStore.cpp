#include "LinkedStore.h"

#include <capi/wincrypt.h>

namespace nimbex_cli {

std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        wchar_t c = extra ? static_cast<wchar_t>(lead & (0x3F >> extra)) : lead;
        for (size_t k = 1; k <= extra && i + k < text.size(); ++k)
            c = static_cast<wchar_t>((c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F));
        out += c;
        i += extra + 1;
    }
    return out;
}

namespace {

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        const uint32_t c = static_cast<uint32_t>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::vector<LinkedCertificate> ReadLinkedCertificates(bool machine) {
    std::vector<LinkedCertificate> out;
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      (machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER) |
                          CERT_STORE_OPEN_EXISTING_FLAG,
                      L"My");
    if (!store) return out;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store, c))) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
            continue;
        std::vector<uint64_t> buffer(size / 8 + 1);
        if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
            continue;
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        LinkedCertificate linked;
        linked.link = Narrow(info->pwszContainerName);
        if (linked.link.compare(0, 6, "CLOUD\\") != 0) continue;
        const size_t split = linked.link.find('\\', 6);
        if (split == std::string::npos) continue;
        linked.service = linked.link.substr(6, split - 6);
        linked.container = linked.link.substr(split + 1);
        linked.provider = Narrow(info->pwszProvName);
        linked.providerType = info->dwProvType;
        linked.der.assign(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
        out.push_back(std::move(linked));
    }
    CertCloseStore(store, 0);
    return out;
}

}  // namespace nimbex_cli
