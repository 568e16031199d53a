#include "server/certs/CertStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "server/certs/KeyGenerator.h"

namespace orvex {

namespace {

constexpr size_t kLineBuffer = 1024;
constexpr size_t kCountryMax = 2;
constexpr size_t kTextMax = 79;
constexpr size_t kCommonNameMax = 64;
constexpr size_t kEmailMax = 40;
constexpr const char* kFiles[] = {"privkey.pem", "pubkey.pem", "cert.pem"};

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

std::string JoinFrom(const std::vector<std::string>& words, size_t first, size_t max) {
    std::string out;
    for (size_t i = first; i < words.size(); ++i) {
        if (i > first) out += ' ';
        out += words[i];
    }
    StringUtil::Truncate(out, max);
    return out;
}

void ParseLine(std::string line, CertInfo& info) {
    StringUtil::StripEol(line);
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    const std::vector<std::string> w = Words(line);
    if (w.size() < 2) return;
    const std::string& key = w[0];
    auto is = [&key](const char* name) { return StringUtil::EqualNoCase(key, name); };
    if (is("COUNTRY"))
        info.country = w[1].substr(0, kCountryMax);
    else if (is("EMAILADDRESS"))
        info.email = w[1].substr(0, kEmailMax);
    else if (is("STATE"))
        info.state = JoinFrom(w, 1, kTextMax);
    else if (is("LOCALITY"))
        info.locality = JoinFrom(w, 1, kTextMax);
    else if (is("ORGANIZATION"))
        info.organization = JoinFrom(w, 1, kTextMax);
    else if (is("ORGUNIT"))
        info.orgUnit = JoinFrom(w, 1, kTextMax);
    else if (is("COMMONNAME"))
        info.commonName = JoinFrom(w, 1, kCommonNameMax);
}

bool ReadWhole(const std::string& path, std::string& out) {
    UniqueFile f = FileUtil::OpenFile(path, "rb");
    if (!f) return false;
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return !std::ferror(f.get());
}

bool WriteWhole(const std::string& path, const std::string& data, int perms) {
    const int fd = FileUtil::OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, perms);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    const bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

}  // namespace

void ParseCertConf(std::string_view text, CertInfo& info) {
    // Lines are taken as a fixed-size line buffer takes them: a longer one reads as several.
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const size_t lineEnd = end == std::string_view::npos ? text.size() : end + 1;
        for (size_t p = pos; p < lineEnd; p += kLineBuffer - 1)
            ParseLine(std::string(text.substr(p, std::min(kLineBuffer - 1, lineEnd - p))), info);
        pos = lineEnd;
    }
}

void ApplyCertDefaults(CertInfo& info) {
    if (info.country.empty()) info.country = "XX";
    for (std::string* f : {&info.state, &info.locality, &info.organization, &info.orgUnit})
        if (f->empty()) *f = "None";
    if (info.commonName.empty()) {
        info.commonName = SocketUtil::FirstNonLoopbackIp();
        if (info.commonName.empty()) info.commonName = kNoAddressCommonName;
    }
    if (info.email.empty()) info.email = kDefaultCertEmail;
}

CertStore::CertStore(FtpSite& site) : site_(site) {}

std::string CertStore::KeyPath(const char* name) const {
    return site_.MakeRootPath("keys/", name);
}

int CertStore::ReloadKeys() {
    const std::string keyPath = KeyPath("privkey.pem");
    const std::string certPath = KeyPath("cert.pem");
    FileStamp keyStamp, certStamp;
    if (!ReadFileStamp(keyPath, keyStamp) || !ReadFileStamp(certPath, certStamp)) return 0;
    {
        LockGuard g(lock_);
        if (loaded_ && keyStamp == keyStamp_ && certStamp == certStamp_) return 1;
    }
    std::string key, cert;
    if (!ReadWhole(keyPath, key) || !ReadWhole(certPath, cert)) return 0;
    LockGuard g(lock_);
    key_ = std::move(key);
    cert_ = std::move(cert);
    keyStamp_ = keyStamp;
    certStamp_ = certStamp;
    loaded_ = true;
    return 1;
}

std::optional<std::string> CertStore::GetPrivateKeyPem() const {
    LockGuard g(lock_);
    return key_;
}

std::optional<std::string> CertStore::GetCertificatePem() const {
    LockGuard g(lock_);
    return cert_;
}

std::string CertStore::GetKeyPassPhrase(size_t size) {
    std::string pass = kKeyPassPhrase;
    if (size == 0) return {};
    StringUtil::Truncate(pass, size - 1);
    return pass;
}

bool CertStore::ReadCertInfo(CertInfo& out) const {
    std::string text;
    if (!ReadWhole(site_.MakeRootPath("etc/", "cert.conf"), text)) return false;
    out = CertInfo{};
    ParseCertConf(text, out);
    ApplyCertDefaults(out);
    return true;
}

CertInfo CertStore::ReadCertInfo() const {
    CertInfo info;
    if (!ReadCertInfo(info)) return CertInfo{};
    return info;
}

int CertStore::GenerateKeys() {
    LockGuard g(lock_);
    CertInfo info;
    if (!ReadCertInfo(info)) return -1;

    std::string dir = site_.MakeRootPath("keys/");
    if (!FileUtil::IsDirectory(dir)) FileUtil::CreateDir(dir);
    std::vector<std::string> paths;
    for (const char* name : kFiles) paths.push_back(KeyPath(name));
    std::vector<bool> backedUp;
    for (const std::string& p : paths) {
        const bool exists = FileUtil::Kind(p) == 2;
        if (exists) {
            const std::string bak = p + ".bak";
            FileUtil::RemoveFile(bak);
            FileUtil::Rename(p, bak);
        }
        backedUp.push_back(exists);
    }

    GeneratedKeys made;
    bool ok = GenerateKeysInMemory(info, kKeyPassPhrase, made) &&
              WriteWhole(paths[0], made.privateKeyPem, 0600) &&
              WriteWhole(paths[1], made.publicKeyPem, 0644) &&
              WriteWhole(paths[2], made.certificatePem, 0644);
    std::string key, cert;
    ok = ok && ReadWhole(paths[0], key) && ReadWhole(paths[2], cert);
    if (!ok) {
        // A file that did not exist before is removed again, so no half-made pair is left.
        for (size_t i = 0; i < paths.size(); ++i) {
            const std::string bak = paths[i] + ".bak";
            FileUtil::RemoveFile(paths[i]);
            if (backedUp[i]) FileUtil::Rename(bak, paths[i]);
        }
        return 0;
    }
    key_ = std::move(key);
    cert_ = std::move(cert);
    return 1;
}

}  // namespace orvex
