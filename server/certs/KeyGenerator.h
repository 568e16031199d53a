#pragma once
// The server's TLS identity made in memory: an RSA key pair and a self-signed certificate as PEM
// texts. The main server writes them to its key files; the standalone server keeps them in memory.
// Nothing here prompts for a pass phrase or leaves errors on the OpenSSL error queue.

#include <string>
#include <string_view>

#include "server/certs/CertInfo.h"

typedef struct evp_pkey_st EVP_PKEY;
typedef struct X509_req_st X509_REQ;

namespace orvex {

inline constexpr int kRsaKeyBits = 2048;
inline constexpr unsigned long kRsaPublicExponent = 65537;
inline constexpr long kCertificateLifetimeSeconds = 31536000;  // 365 days

struct KeyPairPem {
    std::string privateKey;  // "RSA PRIVATE KEY", Triple-DES (CBC) under the pass phrase
    std::string publicKey;   // "PUBLIC KEY"
};

struct GeneratedKeys {
    std::string privateKeyPem;
    std::string publicKeyPem;
    std::string certificatePem;
};

// A new RSA key pair. Fails (false) on an empty pass phrase.
bool GenerateKeyPair(const std::string& passPhrase, KeyPairPem& out);

// A self-signed X.509 v3 certificate for the key in `privateKeyPem` (opened with `passPhrase`):
// serial 0, valid from now for 365 days, subject = issuer = `info`, signed with SHA-256.
bool MakeSelfSignedCertificate(std::string_view privateKeyPem, const std::string& passPhrase,
                               const CertInfo& info, std::string& certPem);

// Both steps; on failure `out` is left empty.
bool GenerateKeysInMemory(const CertInfo& info, const std::string& passPhrase, GeneratedKeys& out);

// The request the certificate is made from: version 0, the subject of `info` in the order
// C, ST, L, O, OU, CN, emailAddress, the pass phrase as challenge password and the public half of
// `key`. Fields longer than their X.520 upper bound are cut to it. The caller frees the result
// with X509_REQ_free; null on failure.
X509_REQ* BuildCertificateRequest(EVP_PKEY* key, const CertInfo& info,
                                  const std::string& challengePassword);

}  // namespace orvex
