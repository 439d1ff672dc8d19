#include "CmsSigner.h"

#include <nimbex/reader.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "GostEngine.h"
#include "HostCrypto.h"
#include "HostError.h"
#include "Session.h"

namespace csphost {

namespace {

const uint32_t kFail = 0x80090020;
const uint32_t kBadAlgId = 0x80090008;
const uint32_t kNotFound = 2;

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using TimePtr = std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME, ASN1_TIME_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

void Check(bool ok, const char* what) {
    if (!ok) throw HostError(std::string("CMS signing: ") + what, kFail);
}

bool IsGostHash(uint32_t algId) {
    return algId == 0x8021 || algId == 0x8022;
}

const EVP_MD* DigestOf(uint32_t algId) {
    if (const EVP_MD* md = HostDigest(algId)) return md;
    if (IsGostHash(algId))
        throw HostError("CMS signing: " + gost::Engine::Get().problem(), kBadAlgId);
    throw HostError("CMS signing: unknown hash algorithm", kBadAlgId);
}

using Bytes = std::vector<unsigned char>;

void AppendDerLength(Bytes& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
        return;
    }
    Bytes digits;
    for (; length; length >>= 8) digits.insert(digits.begin(), length & 0xFF);
    out.push_back(static_cast<unsigned char>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

// The DER of the signed attributes as they are signed: a SET OF whose
// elements are in the ascending order of their encodings.
Bytes SignedAttributesDer(CMS_SignerInfo* si) {
    std::vector<Bytes> encodings;
    for (int i = 0; i < CMS_signed_get_attr_count(si); ++i) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(si, i);
        unsigned char* der = nullptr;
        const int length = i2d_X509_ATTRIBUTE(attribute, &der);
        Check(length > 0, "encoding an attribute");
        encodings.emplace_back(der, der + length);
        OPENSSL_free(der);
    }
    std::sort(encodings.begin(), encodings.end());
    size_t total = 0;
    for (const Bytes& e : encodings) total += e.size();
    Bytes set{0x31};
    AppendDerLength(set, total);
    for (const Bytes& e : encodings) set.insert(set.end(), e.begin(), e.end());
    return set;
}

// r and s of equal length, big-endian, as an ECDSA-Sig-Value.
Bytes EcdsaSignatureDer(const Bytes& raw) {
    Check(!raw.empty() && raw.size() % 2 == 0, "the EC signature has an odd length");
    const int half = static_cast<int>(raw.size() / 2);
    SigPtr sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(raw.data(), half, nullptr);
    BIGNUM* s = BN_bin2bn(raw.data() + half, half, nullptr);
    if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        Check(false, "building the EC signature");
    }
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    Check(length > 0, "encoding the EC signature");
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

// The certificate of the open container: the file of whichever key it holds.
Bytes ContainerCertificate(Session& session) {
    try {
        return session.ReadFile(CLOUD_FILE_SIGNATURE_CERTIFICATE);
    } catch (const HostError& e) {
        if (e.code() != kNotFound) throw;
    }
    return session.ReadFile(CLOUD_FILE_EXCHANGE_CERTIFICATE);
}

}  // namespace

CmsSigner::CmsSigner(Session& session, uint32_t hashAlgId)
    : CmsSigner(session, ContainerCertificate(session), hashAlgId) {}

CmsSigner::CmsSigner(Session& session, std::vector<unsigned char> certificate, uint32_t hashAlgId)
    : session_(&session), certificate_(std::move(certificate)), hashAlgId_(hashAlgId) {
    DigestOf(hashAlgId_);
}

std::vector<unsigned char> CmsSigner::Sign(const std::vector<unsigned char>& document,
                                           CmsFormat format) const {
    const EVP_MD* md = DigestOf(hashAlgId_);
    const unsigned char* p = certificate_.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate_.size())));
    Check(cert != nullptr, "the certificate does not decode");
    PkeyPtr publicKey(X509_get_pubkey(cert.get()));
    if (!publicKey && gost::Engine::Get().available()) {
        // A GOST key with a hash of another family: its key decodes once the
        // engine is in.
        p = certificate_.data();
        cert.reset(d2i_X509(nullptr, &p, static_cast<long>(certificate_.size())));
        Check(cert != nullptr, "the certificate does not decode");
        publicKey.reset(X509_get_pubkey(cert.get()));
    }
    Check(publicKey != nullptr, "the certificate's key");

    // The document goes through the reader first, so that it is kept there.
    const Bytes documentHash = session_->Hash(hashAlgId_, document);

    const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    Check(cms != nullptr, "creating the SignedData");
    Check(CMS_set_detached(cms.get(), 1) == 1, "detaching the content");
    CMS_SignerInfo* si = CMS_add1_signer(cms.get(), cert.get(), publicKey.get(), md, flags);
    Check(si != nullptr, "adding the signer");

    TimePtr now(X509_gmtime_adj(nullptr, 0));
    Check(now != nullptr, "the signing time");
    Check(CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT,
                                      OBJ_nid2obj(NID_pkcs7_data), -1) == 1 &&
              CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, ASN1_STRING_type(now.get()),
                                          now.get(), -1) == 1 &&
              CMS_signed_add1_attr_by_NID(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING,
                                          documentHash.data(),
                                          static_cast<int>(documentHash.size())) == 1,
          "adding the signed attributes");

    Bytes attributesHash = session_->Hash(hashAlgId_, SignedAttributesDer(si));
    // A GOST hash is signed as a number, most significant byte first: the reverse of the
    // order in which the hash function writes it. Its signature comes back as CMS holds it
    // (s, then r, big-endian).
    if (IsGostHash(hashAlgId_)) std::reverse(attributesHash.begin(), attributesHash.end());
    Bytes signature = session_->SignHash(attributesHash, hashAlgId_);
    if (EVP_PKEY_get_base_id(publicKey.get()) == EVP_PKEY_EC)
        signature = EcdsaSignatureDer(signature);
    Check(ASN1_STRING_set(CMS_SignerInfo_get0_signature(si), signature.data(),
                          static_cast<int>(signature.size())) == 1,
          "setting the signature");

    BioPtr out(BIO_new(BIO_s_mem()));
    Check(out != nullptr, "an output buffer");
    const int written = format == CmsFormat::kPem
                            ? PEM_write_bio_CMS_stream(out.get(), cms.get(), nullptr, 0)
                            : i2d_CMS_bio(out.get(), cms.get());
    Check(written == 1, "writing the SignedData");
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return Bytes(data, data + length);
}

void CmsSigner::SignFile(const std::string& documentPath, const std::string& outputPath,
                         CmsFormat format) const {
    std::ifstream in(documentPath, std::ios::binary);
    if (!in) throw HostError("Cannot read " + documentPath, kFail);
    const Bytes document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Bytes signature = Sign(document, format);
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(signature.data()),
              static_cast<std::streamsize>(signature.size()));
    if (!out.flush()) throw HostError("Cannot write " + outputPath, kFail);
}

}  // namespace csphost
