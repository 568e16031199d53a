#pragma once
// The server's TLS identity: copies of keys/privkey.pem and keys/cert.pem held for the TLS layer,
// re-read when either file changes on disk, and the certificate name from etc/cert.conf.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/FileStamp.h"
#include "engine/ThreadUtil.h"
#include "server/certs/CertInfo.h"

namespace orvex {

class FtpSite;

inline constexpr const char* kKeyPassPhrase = "quosk";
inline constexpr const char* kDefaultCertEmail = "ftpadmin@localhost";
inline constexpr const char* kNoAddressCommonName = "RaZUVAduzuz";

// Parses the text of a cert.conf. Fields not named keep what `info` had; no defaults applied.
void ParseCertConf(std::string_view text, CertInfo& info);
// Gives every empty field its default.
void ApplyCertDefaults(CertInfo& info);

class CertStore {
  public:
    // `site` builds the paths (under the root path) and takes the log lines.
    explicit CertStore(FtpSite& site);
    CertStore(const CertStore&) = delete;
    CertStore& operator=(const CertStore&) = delete;

    // 1 when both files are loaded or unchanged; 0 when either is missing or unreadable, which
    // keeps the copies held so far.
    int ReloadKeys();
    std::optional<std::string> GetPrivateKeyPem() const;
    std::optional<std::string> GetCertificatePem() const;
    static std::string GetKeyPassPhrase(size_t size);
    // All fields empty when etc/cert.conf cannot be read.
    CertInfo ReadCertInfo() const;
    // 1 made (the old files kept as ".bak"), 0 failed (old files restored), -1 no cert.conf.
    int GenerateKeys();

  private:
    std::string KeyPath(const char* name) const;
    bool ReadCertInfo(CertInfo& out) const;

    FtpSite& site_;
    mutable Lock lock_;
    FileStamp keyStamp_, certStamp_;
    bool loaded_ = false;
    std::optional<std::string> key_, cert_;
};

}  // namespace orvex
