// Arbitrary key-provider records on a certificate, read back as a cloud link.
//
// Input layout (every field optional: a short input leaves the rest zero):
//   u8 presence (bit 0 container name, bit 1 provider name)
//   u8 n, then n UTF-16 code units: container name
//   u8 n, then n UTF-16 code units: provider name
//   u32 type, u32 flags, u32 KeySpec
//   then parameters until the input ends: u8 selector (even: id 222, odd:
//   any u32 id that follows), u32 flags, u16 length, length bytes
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "container/CertificateHandles.h"
#include "container/CloudCertificateLink.h"

namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : p_(data), left_(size) {}
    bool empty() const { return left_ == 0; }
    uint8_t U8() { return left_ ? (--left_, *p_++) : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
    std::vector<uint8_t> Bytes(size_t n) {
        n = n < left_ ? n : left_;
        std::vector<uint8_t> out(p_, p_ + n);
        p_ += n;
        left_ -= n;
        return out;
    }

  private:
    const uint8_t* p_;
    size_t left_;
};

std::wstring WideText(Input& in) {
    std::wstring text;
    for (uint8_t n = in.U8(); n > 0 && !in.empty(); --n) {
        wchar_t c = static_cast<wchar_t>(in.U16());
        text.push_back(c == 0 ? L'?' : c);
    }
    return text;
}

PCCERT_CONTEXT g_certificate = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(x));
    X509_set_pubkey(x, key);
    X509_sign(x, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    g_certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(n));
    OPENSSL_free(der);
    X509_free(x);
    EVP_PKEY_free(key);
    return g_certificate ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t presence = in.U8();
    std::wstring container = WideText(in);
    std::wstring provider = WideText(in);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = (presence & 1) ? container.data() : nullptr;
    info.pwszProvName = (presence & 2) ? provider.data() : nullptr;
    info.dwProvType = in.U32();
    info.dwFlags = in.U32();
    info.dwKeySpec = in.U32();
    std::vector<std::vector<uint8_t>> blobs;
    std::vector<CRYPT_KEY_PROV_PARAM> params;
    while (!in.empty() && params.size() < 64) {
        const uint8_t selector = in.U8();
        CRYPT_KEY_PROV_PARAM p{};
        p.dwParam = (selector & 1) ? in.U32() : kCloudLinkParamId;
        p.dwFlags = in.U32();
        blobs.push_back(in.Bytes(in.U16()));
        params.push_back(p);
    }
    for (size_t i = 0; i < params.size(); ++i) {
        params[i].pbData = blobs[i].empty() ? nullptr : blobs[i].data();
        params[i].cbData = static_cast<DWORD>(blobs[i].size());
    }
    info.cProvParam = static_cast<DWORD>(params.size());
    info.rgProvParam = params.empty() ? nullptr : params.data();
    if (!CertSetCertificateContextProperty(g_certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
        return 0;

    const CloudContainerLink link = ReadCloudContainerLink(g_certificate);
    if (link.isCloud && link.containerName.size() + link.serviceName.size() > 260) __builtin_trap();
    PropertyBuffer buffer;
    if (buffer.Read(g_certificate, CERT_KEY_PROV_INFO_PROP_ID) && buffer.KeyProvInfo()) {
        for (const CloudLinkParam& p : ReadCloudLinkParams(*buffer.KeyProvInfo())) {
            uint32_t number;
            p.Number(&number);
            if (p.Text().size() > p.payload.size()) __builtin_trap();
        }
    }
    return 0;
}
