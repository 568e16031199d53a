#include "server/certs/KeyGenerator.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <memory>
#include <utility>

namespace orvex {

namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using KeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using ReqPtr = std::unique_ptr<X509_REQ, Deleter<X509_REQ_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;

// Hands the known pass phrase to OpenSSL so it never prompts on a terminal.
int PassPhraseCallback(char* buf, int size, int, void* user) {
    const auto* pass = static_cast<const std::string*>(user);
    if (size <= 0 || pass->size() > static_cast<size_t>(size)) return -1;
    std::memcpy(buf, pass->data(), pass->size());
    return static_cast<int>(pass->size());
}

bool TakeMemory(BIO* bio, std::string& out) {
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    if (len <= 0 || data == nullptr) return false;
    out.assign(data, static_cast<size_t>(len));
    return true;
}

// Keeps the OpenSSL error queue clean for whatever TLS work the thread does next.
bool Fail() {
    ERR_clear_error();
    return false;
}

X509_REQ* FailNull() {
    ERR_clear_error();
    return nullptr;
}

KeyPtr GenerateRsaKey() {
    KeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    BnPtr e(BN_new());
    if (!ctx || !e || !BN_set_word(e.get(), kRsaPublicExponent)) return nullptr;
    if (EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), kRsaKeyBits) <= 0 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) <= 0)
        return nullptr;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_generate(ctx.get(), &key) <= 0) return nullptr;
    return KeyPtr(key);
}

struct NameField {
    int nid;
    size_t upperBound;
    std::string CertInfo::*value;
};

constexpr NameField kSubjectOrder[] = {
    {NID_countryName, 2, &CertInfo::country},
    {NID_stateOrProvinceName, 128, &CertInfo::state},
    {NID_localityName, 128, &CertInfo::locality},
    {NID_organizationName, 64, &CertInfo::organization},
    {NID_organizationalUnitName, 64, &CertInfo::orgUnit},
    {NID_commonName, 64, &CertInfo::commonName},
    {NID_pkcs9_emailAddress, 128, &CertInfo::email},
};

}  // namespace

bool GenerateKeyPair(const std::string& passPhrase, KeyPairPem& out) {
    out = {};
    if (passPhrase.empty() || passPhrase.size() > 1023) return Fail();
    KeyPtr key = GenerateRsaKey();
    if (!key) return Fail();

    BioPtr priv(BIO_new(BIO_s_mem()));
    BioPtr pub(BIO_new(BIO_s_mem()));
    if (!priv || !pub) return Fail();
    auto* kstr = reinterpret_cast<unsigned char*>(const_cast<char*>(passPhrase.data()));
    if (!PEM_write_bio_PrivateKey_traditional(priv.get(), key.get(), EVP_des_ede3_cbc(), kstr,
                                              static_cast<int>(passPhrase.size()), nullptr,
                                              nullptr))
        return Fail();
    if (!PEM_write_bio_PUBKEY(pub.get(), key.get())) return Fail();

    KeyPairPem made;
    if (!TakeMemory(priv.get(), made.privateKey) || !TakeMemory(pub.get(), made.publicKey))
        return Fail();
    out = std::move(made);
    return true;
}

X509_REQ* BuildCertificateRequest(EVP_PKEY* key, const CertInfo& info,
                                  const std::string& challengePassword) {
    ReqPtr req(X509_REQ_new());
    if (!req || !key || !X509_REQ_set_version(req.get(), 0)) return FailNull();
    X509_NAME* name = X509_REQ_get_subject_name(req.get());
    for (const NameField& f : kSubjectOrder) {
        const std::string value = (info.*f.value).substr(0, f.upperBound);
        if (!X509_NAME_add_entry_by_NID(name, f.nid, MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char*>(value.c_str()),
                                        static_cast<int>(value.size()), -1, 0))
            return FailNull();
    }
    if (!X509_REQ_add1_attr_by_NID(
            req.get(), NID_pkcs9_challengePassword, MBSTRING_ASC,
            reinterpret_cast<const unsigned char*>(challengePassword.c_str()),
            static_cast<int>(challengePassword.size())))
        return FailNull();
    if (!X509_REQ_set_pubkey(req.get(), key)) return FailNull();
    return req.release();
}

bool MakeSelfSignedCertificate(std::string_view privateKeyPem, const std::string& passPhrase,
                               const CertInfo& info, std::string& certPem) {
    certPem.clear();
    if (privateKeyPem.empty() || privateKeyPem.size() > static_cast<size_t>(INT_MAX)) return Fail();
    BioPtr in(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
    if (!in) return Fail();
    std::string pass = passPhrase;
    KeyPtr key(PEM_read_bio_PrivateKey(in.get(), nullptr, PassPhraseCallback, &pass));
    if (!key) return Fail();

    ReqPtr req(BuildCertificateRequest(key.get(), info, passPhrase));
    X509Ptr cert(X509_new());
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!req || !cert || !out) return Fail();

    X509_NAME* subject = X509_REQ_get_subject_name(req.get());
    EVP_PKEY* reqKey = X509_REQ_get0_pubkey(req.get());
    if (!X509_set_version(cert.get(), 2) ||
        !ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0) ||
        !X509_set_issuer_name(cert.get(), subject) || !X509_set_subject_name(cert.get(), subject) ||
        !X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), kCertificateLifetimeSeconds) || !reqKey ||
        !X509_set_pubkey(cert.get(), reqKey))
        return Fail();
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return Fail();
    if (!PEM_write_bio_X509(out.get(), cert.get()) || !TakeMemory(out.get(), certPem))
        return Fail();
    return true;
}

bool GenerateKeysInMemory(const CertInfo& info, const std::string& passPhrase, GeneratedKeys& out) {
    out = {};
    KeyPairPem pair;
    std::string cert;
    if (!GenerateKeyPair(passPhrase, pair) ||
        !MakeSelfSignedCertificate(pair.privateKey, passPhrase, info, cert))
        return false;
    out.privateKeyPem = std::move(pair.privateKey);
    out.publicKeyPem = std::move(pair.publicKey);
    out.certificatePem = std::move(cert);
    return true;
}

}  // namespace orvex
