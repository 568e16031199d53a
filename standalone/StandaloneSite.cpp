#include "standalone/StandaloneSite.h"

#include <unistd.h>

#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "server/certs/CertInfo.h"
#include "server/certs/KeyGenerator.h"

namespace orvex {

namespace {

// Verbs the reduced access log keeps: logins, transfers and the ends of sessions.
constexpr std::string_view kReducedVerbs[] = {"CONNECT", "DISCONNECT", "USER", "PASS",
                                              "RETR",    "STOR",       "ABOR", "QUIT"};
constexpr int kPassiveAttempts = 3;
constexpr const char* kCertificateEmail = "ftp@vantor.invalid";

bool IsReducedLevel(int level) {
    return level == 1 || level == 3 || level == 5;
}

}  // namespace

StandaloneSite::StandaloneSite() : FtpSite(kVantorName, kVantorVersion, kVantorEngineVersion, "") {
    FtpSite::SetProgramLogLevel(0);
    FtpSite::SetAccessLogLevel(0);
}

StandaloneSite::~StandaloneSite() {
    LockGuard g(portLock_);
    for (PassivePort& p : ports_) SocketUtil::Close(p.fd);
}

void StandaloneSite::ReplaceUsers(UserList users) {
    LockGuard g(userLock_);
    users_ = std::move(users);
}

bool StandaloneSite::AddUser(const UserRecord& user) {
    LockGuard g(userLock_);
    if (users_.FindName(user.account.user, true)) return false;
    users_.Create(static_cast<int32_t>(users_.MaxId() + 1), user.account.user, user);
    return true;
}

size_t StandaloneSite::UserCount() {
    LockGuard g(userLock_);
    return users_.Count();
}

bool StandaloneSite::UserExists(std::string& user) {
    LockGuard g(userLock_);
    const UserList::Node* node = users_.FindName(user, true);
    if (!node) return false;
    // The stored spelling is what the password was encrypted with.
    user = node->name->substr(0, user.size());
    return true;
}

std::optional<Account> StandaloneSite::GetAccount(const std::string& user) {
    LockGuard g(userLock_);
    const UserList::Node* node = users_.FindName(user, true);
    if (!node) return std::nullopt;
    return node->data.account;
}

bool StandaloneSite::CheckPermission(const std::string& user, const std::string&,
                                     std::string_view letters) {
    LockGuard g(userLock_);
    const UserList::Node* node = users_.FindName(user, true);
    if (!node) return false;
    return node->data.permissions.find_first_of(letters) != std::string::npos;
}

int StandaloneSite::LevelToMode(int level) {
    if (level < 0 || level > 6) return -1;
    return (level + 1) / 2;
}

void StandaloneSite::SetProgramLogLevel(int level) {
    const int mode = LevelToMode(level);
    if (mode >= 0) FtpSite::SetProgramLogLevel(mode);
}

void StandaloneSite::SetAccessLogLevel(int level) {
    const int mode = LevelToMode(level);
    if (mode < 0) return;
    rawAccessLevel_ = level;
    FtpSite::SetAccessLogLevel(mode);
}

bool StandaloneSite::LogAccess(const AccessLogEntry& e) {
    if (IsReducedLevel(rawAccessLevel_)) {
        bool kept = false;
        for (std::string_view verb : kReducedVerbs)
            kept = kept || StringUtil::EqualNoCase(e.verb, verb);
        if (!kept) return true;
    }
    return FtpSite::LogAccess(e);
}

int StandaloneSite::SetPassivePortRange(int low, int high) {
    if (low < 1 || high > 65534 || high < low) return 0;
    LockGuard g(portLock_);
    std::vector<PassivePort> next(static_cast<size_t>(high - low + 1));
    for (size_t i = 0; i < next.size(); ++i) next[i].port = static_cast<uint16_t>(high - i);
    // Sockets handed out under an earlier range stay with their ports, or are left to the
    // sessions that hold them (ClosePassiveSocket then reports them as not ours).
    for (const PassivePort& old : ports_) {
        if (old.fd < 0) continue;
        if (old.port >= low && old.port <= high)
            next[static_cast<size_t>(high - old.port)].fd = old.fd;
    }
    ports_ = std::move(next);
    lowPort_ = static_cast<uint16_t>(low);
    highPort_ = static_cast<uint16_t>(high);
    return 1;
}

int StandaloneSite::OpenDataSocketOn(std::string& portText, const std::string& ip, uint16_t port) {
    return SocketUtil::OpenDataSocket(&portText, ip, port);
}

int StandaloneSite::OpenPassiveSocket(std::string& portText, int& fd, const std::string& localIp) {
    LockGuard g(portLock_);
    if (ports_.empty()) {
        fd = OpenDataSocketOn(portText, localIp, 0);
        return fd >= 0 ? 1 : 0;
    }
    int failures = 0;
    for (PassivePort& p : ports_) {
        if (p.fd >= 0) continue;
        const int opened = OpenDataSocketOn(portText, localIp, p.port);
        if (opened >= 0) {
            p.fd = opened;
            fd = opened;
            return 1;
        }
        if (++failures >= kPassiveAttempts) break;
    }
    fd = -1;
    return 0;
}

int StandaloneSite::ClosePassiveSocket(int fd) {
    if (fd < 0) return 0;
    LockGuard g(portLock_);
    if (ports_.empty()) {
        close(fd);
        return 1;
    }
    for (PassivePort& p : ports_) {
        if (p.fd == fd) {
            SocketUtil::Close(p.fd);
            return 1;
        }
    }
    return 0;
}

std::vector<uint16_t> StandaloneSite::PassivePorts() {
    LockGuard g(portLock_);
    std::vector<uint16_t> out;
    for (const PassivePort& p : ports_) out.push_back(p.port);
    return out;
}

bool StandaloneSite::PrepareTls() {
    LockGuard g(tlsLock_);
    if (tlsTried_) return !certificatePem_.empty();
    tlsTried_ = true;
    std::string ip;
    if (!SocketUtil::LocalIp(ip) || ip.empty()) ip = "127.0.0.1";
    const CertInfo subject{"XX", "None", "None", kVantorName, "None", ip, kCertificateEmail};
    GeneratedKeys keys;
    if (!GenerateKeysInMemory(subject, kKeyPassPhrase, keys) || keys.certificatePem.empty()) {
        LogProgram("MAIN", "WARNING: unable to initialize the SSL information.");
        return false;
    }
    privateKeyPem_ = std::move(keys.privateKeyPem);
    publicKeyPem_ = std::move(keys.publicKeyPem);
    certificatePem_ = std::move(keys.certificatePem);
    return true;
}

std::optional<std::string> StandaloneSite::GetPrivateKeyPem() {
    LockGuard g(tlsLock_);
    if (privateKeyPem_.empty()) return std::nullopt;
    return privateKeyPem_;
}

std::optional<std::string> StandaloneSite::GetCertificatePem() {
    LockGuard g(tlsLock_);
    if (certificatePem_.empty()) return std::nullopt;
    return certificatePem_;
}

std::optional<std::string> StandaloneSite::GetPublicKeyPem() {
    LockGuard g(tlsLock_);
    if (publicKeyPem_.empty()) return std::nullopt;
    return publicKeyPem_;
}

bool StandaloneSite::GetKeyPassPhrase(std::string& out) {
    out = kKeyPassPhrase;
    return true;
}

}  // namespace orvex
