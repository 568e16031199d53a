#include "server/app/ServerSite.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/SiteConfig.h"
#include "server/certs/CertStore.h"
#include "server/fs/Filesystem.h"
#include "server/fs/LinksStore.h"
#include "server/remote/AliasStore.h"
#include "server/remote/MirrorStore.h"

namespace orvex {

namespace {

constexpr int kPassiveAttempts = 3;
constexpr size_t kListingLineSize = 1024;
constexpr size_t kListingNameMax = 8;
constexpr const char* kUnknownOwner = "system";

// `base` + `sub` as a directory (slashes turned into backslashes), then `name`; none without a
// base.
std::string JoinUnder(const std::string& base, std::string_view sub, std::string_view name) {
    if (base.empty()) return {};
    std::string path = base;
    path.append(sub);
    FileUtil::ToBackslashes(path);
    FileUtil::AddTrailingSep(path);
    path.append(name);
    return path;
}

std::optional<uint32_t> ReadId(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str()) return std::nullopt;
    return static_cast<uint32_t>(v);
}

bool AnyOf(std::string_view letters, std::string_view in) {
    return letters.find_first_of(in) != std::string_view::npos;
}

// The three letters of one triple of a mode string, empty when the string is short.
std::string_view Triple(std::string_view mode, size_t index) {
    if (mode.size() < (index + 1) * 3) return {};
    return mode.substr(index * 3, 3);
}

bool IsFilteredVerb(std::string_view verb) {
    for (std::string_view v :
         {"CONNECT", "DISCONNECT", "USER", "PASS", "RETR", "STOR", "ABOR", "SITE", "QUIT"})
        if (StringUtil::EqualNoCase(verb, v)) return true;
    return false;
}

}  // namespace

bool TriplesGrant(std::string_view mode, std::string_view letters, std::optional<uint32_t> owner,
                  std::optional<uint32_t> group, std::optional<uint32_t> uid,
                  std::optional<uint32_t> gid) {
    // Every triple that applies to the user may grant, so a group triple without the letter
    // never hides the owner's.
    if (AnyOf(letters, Triple(mode, 2))) return true;
    if (group && gid && *group == *gid && AnyOf(letters, Triple(mode, 1))) return true;
    if (owner && uid && *owner == *uid && AnyOf(letters, Triple(mode, 0))) return true;
    return false;
}

int LogModeOfLevel(int level) {
    switch (level) {
        case 0:
            return 0;
        case 1:
        case 2:
            return 1;
        case 3:
        case 4:
            return 2;
        case 5:
        case 6:
            return 3;
        default:
            return -1;
    }
}

ServerSite::ServerSite()
    : FtpSite(kServerName, kServerVersion, kEngineVersion), startTime_(Clock::NowSeconds()) {
    AccountLog log = [this](const std::string& line) { LogProgramLine("MAIN", line); };
    config_ = std::make_unique<SiteConfig>(this);
    accounts_ = std::make_unique<AccountStore>(log);
    groups_ = std::make_unique<GroupStore>(log);
    // The user store creates and removes passwd entries and reads groups for templates.
    users_ = std::make_unique<UserStore>(accounts_.get(), groups_.get(), log);
    registry_ = std::make_unique<OnlineRegistry>();
    aliases_ = std::make_unique<AliasStore>(*this);
    links_ = std::make_unique<LinksStore>(*this);
    mirrors_ = std::make_unique<MirrorStore>(*this);
    filesystem_ = std::make_unique<Filesystem>(*this);
    certs_ = std::make_unique<CertStore>(*this);
    accounts_->SetReservedIds([this] { return ReferencedUserIds(); });
    groups_->SetReservedIds([this] { return ReferencedGroupIds(); });
    // A saved user travels to the other servers that hold a copy of it.
    users_->SetPropagateHook(
        [this](uint32_t connection, const std::string& name, const UserRecord&) {
            aliases_->PropagateUser(connection, name);
        });
    FtpSite::SetAccessLogLevel(0);
    FtpSite::SetProgramLogLevel(1);
}

ServerSite::~ServerSite() {
    config_.reset();
    users_.reset();
    accounts_.reset();
    groups_.reset();
    registry_.reset();
    aliases_.reset();
    links_.reset();
    mirrors_.reset();
    filesystem_.reset();
    certs_.reset();
    LockGuard g(siteLock_);
    for (PassivePort& p : passivePorts_) SocketUtil::Close(p.fd);
}

namespace {

std::vector<int32_t> AsIds(const std::set<uint32_t>& ids) {
    std::vector<int32_t> out;
    for (uint32_t id : ids)
        if (id <= static_cast<uint32_t>(INT32_MAX)) out.push_back(static_cast<int32_t>(id));
    return out;
}

}  // namespace

std::vector<int32_t> ServerSite::ReferencedUserIds() {
    std::set<uint32_t> users, groups;
    filesystem_->CollectOwnerIds(users, groups);
    return AsIds(users);
}

std::vector<int32_t> ServerSite::ReferencedGroupIds() {
    std::set<uint32_t> users, groups;
    filesystem_->CollectOwnerIds(users, groups);
    for (const auto& n : accounts_->ListAccounts())
        if (std::optional<uint32_t> gid = ReadId(n.data.gid)) groups.insert(*gid);
    return AsIds(groups);
}

void ServerSite::ConfigureStores() {
    const std::string root = config_->GetRootPath();
    accounts_->Configure(MakeRootPath("etc/", "passwd"), root, config_->GetDefaultHomeDir());
    accounts_->ConfigureRemote(MakeRootPath("etc/", "remote.passwd"));
    groups_->Configure(MakeRootPath("etc/", "group"));
    users_->Configure(MakeDataPath("users/"),
                      LocalHome{config_->GetSiteIp(), config_->GetServerPort()});
    LoginLimits limits = Logins().Limits();
    limits.perAddress =
        static_cast<int>(std::min<uint32_t>(config_->GetMaxPendingPerIp(), INT_MAX));
    limits.total = static_cast<int>(std::min<uint32_t>(config_->GetMaxPending(), INT_MAX));
    Logins().SetLimits(limits);
}

std::string ServerSite::MakeDataPath(std::string_view sub, std::string_view name) {
    return JoinUnder(config_->GetDataPath(), sub, name);
}

std::string ServerSite::MakeRootPath(std::string_view sub, std::string_view name) {
    return JoinUnder(config_->GetRootPath(), sub, name);
}

std::string ServerSite::MakeHomePath(std::string_view sub, std::string_view name) {
    return JoinUnder(config_->GetDefaultHomeDir(), sub, name);
}

std::optional<UserRecord> ServerSite::FindUser(const std::string& user) {
    if (user.empty()) return std::nullopt;
    return users_->FindUser(user);
}

std::optional<Account> ServerSite::AccountOf(const std::string& user) {
    if (user.empty()) return std::nullopt;
    return accounts_->FindAccount(user);
}

bool ServerSite::UserExists(std::string& user) {
    std::string stored;
    if (!users_->HasUser(user, &stored)) return false;
    if (!stored.empty()) user = stored;
    return true;
}

std::optional<Account> ServerSite::GetAccount(const std::string& user) {
    return AccountOf(user);
}

bool ServerSite::DescribeEntry(const std::string& path, Entry& out) {
    const int kind = FileUtil::Kind(path);
    if (kind == 0) return false;
    DescribeKnown(path, kind == 1, out);
    return true;
}

void ServerSite::DescribeKnown(const std::string& path, bool directory, Entry& out) {
    out.directory = directory;
    if (directory) {
        std::string key = path;
        FileUtil::AddTrailingSep(key);
        if (auto dir = filesystem_->GetDirectory(key, false)) {
            out.mode = dir->permissions;
            out.owner = dir->owner;
            out.group = dir->group;
            return;
        }
        out.mode = kUnknownDirectoryMode;
        return;
    }
    if (auto file = filesystem_->GetFile(path)) {
        out.mode = file->permissions;
        out.owner = file->owner;
        out.group = file->group;
        return;
    }
    out.mode = kUnknownFileMode;
}

bool ServerSite::CheckPermission(const std::string& user, const std::string& path,
                                 std::string_view letters) {
    const std::optional<UserRecord> record = FindUser(user);
    if (!record) return false;
    if (!AnyOf(letters, record->permissions)) return false;
    if (record->HasFlag(kFlagSiteop) || path.empty()) return true;
    const std::optional<Account> account = AccountOf(user);
    if (!account) return false;
    Entry entry;
    if (!DescribeEntry(path, entry)) return false;
    return TriplesGrant(entry.mode, letters, entry.owner, entry.group, ReadId(account->uid),
                        ReadId(account->gid));
}

void ServerSite::SetProgramLogLevel(int value) {
    const int mode = LogModeOfLevel(value);
    if (mode >= 0) FtpSite::SetProgramLogLevel(mode);
}

void ServerSite::SetAccessLogLevel(int value) {
    const int mode = LogModeOfLevel(value);
    if (mode < 0) return;
    rawAccessLevel_ = value;
    FtpSite::SetAccessLogLevel(mode);
}

bool ServerSite::LogAccess(const AccessLogEntry& e) {
    const int raw = rawAccessLevel_;
    if ((raw == 1 || raw == 3 || raw == 5) && !IsFilteredVerb(e.verb)) return true;
    return FtpSite::LogAccess(e);
}

int ServerSite::SetPassivePortRange(int low, int high) {
    if (high < low || low < 0 || high > 65535) return 0;
    LockGuard g(siteLock_);
    passivePorts_.clear();
    passiveLow_ = static_cast<uint16_t>(low);
    passiveHigh_ = static_cast<uint16_t>(high);
    if (high == 0) return 1;
    passivePorts_.reserve(static_cast<size_t>(high - low + 1));
    for (int port = high; port >= low; --port)
        passivePorts_.push_back(PassivePort{static_cast<uint16_t>(port), -1});
    return 1;
}

std::vector<uint16_t> ServerSite::PassivePorts() const {
    LockGuard g(siteLock_);
    std::vector<uint16_t> out;
    for (const PassivePort& p : passivePorts_) out.push_back(p.port);
    return out;
}

int ServerSite::OpenPassiveSocket(std::string& portText, int& fd, const std::string& localIp) {
    LockGuard g(siteLock_);
    fd = -1;
    if (passivePorts_.empty()) {
        fd = SocketUtil::OpenDataSocket(&portText, localIp, 0);
        return fd >= 0 ? 1 : 0;
    }
    int failures = 0;
    for (PassivePort& entry : passivePorts_) {
        if (entry.fd >= 0) continue;
        std::string text;
        int sd = SocketUtil::OpenDataSocket(&text, localIp, entry.port);
        // Listening at once makes a port that another socket still listens on fail here.
        if (sd >= 0 && !SocketUtil::Listen(sd, 0)) SocketUtil::Close(sd);
        if (sd < 0) {
            if (++failures >= kPassiveAttempts) return 0;
            continue;
        }
        entry.fd = sd;
        fd = sd;
        portText = text;
        return 1;
    }
    return 0;
}

int ServerSite::ClosePassiveSocket(int fd) {
    if (fd < 0) return 0;
    LockGuard g(siteLock_);
    for (PassivePort& entry : passivePorts_)
        if (entry.fd == fd) entry.fd = -1;
    int closing = fd;
    SocketUtil::Close(closing);
    return 1;
}

EntryOwnership ServerSite::OwnershipOf(const Entry& entry) {
    EntryOwnership out{kUnknownOwner, kUnknownOwner, FileUtil::ModeBits(entry.mode)};
    std::string name;
    if (entry.owner && accounts_->UserNameOf(static_cast<int32_t>(*entry.owner), name))
        out.owner = name;
    if (entry.group && groups_->GroupNameOf(static_cast<int32_t>(*entry.group), name))
        out.group = name;
    return out;
}

EntryOwnership ServerSite::DescribeOwnership(const std::string& path, const FileInfo& info) {
    Entry entry;
    DescribeKnown(path, (info.mode & kModeDirectory) != 0, entry);
    return OwnershipOf(entry);
}

class ListingFacts : public EntryFacts {
  public:
    ListingFacts(ServerSite& site, const std::string& user) : site_(site) {
        record_ = site.FindUser(user);
        if (!record_) return;
        siteop_ = record_->HasFlag(kFlagSiteop);
        if (std::optional<Account> account = site.AccountOf(user)) {
            known_ = true;
            uid_ = ReadId(account->uid);
            gid_ = ReadId(account->gid);
        }
    }
    void Describe(const std::string& path, const FileInfo& info) override {
        entry_ = {};
        site_.DescribeKnown(path, (info.mode & kModeDirectory) != 0, entry_);
    }
    // As CheckPermission, with what it would read again for every letter read once.
    bool Allows(std::string_view letters) override {
        if (!record_ || !AnyOf(letters, record_->permissions)) return false;
        if (siteop_) return true;
        return known_ && TriplesGrant(entry_.mode, letters, entry_.owner, entry_.group, uid_, gid_);
    }
    // A folder's entries mostly share a few owners: each name is looked up once.
    EntryOwnership Ownership() override {
        EntryOwnership out{kUnknownOwner, kUnknownOwner, FileUtil::ModeBits(entry_.mode)};
        if (entry_.owner) out.owner = NameOf(owners_, *entry_.owner, false);
        if (entry_.group) out.group = NameOf(groups_, *entry_.group, true);
        return out;
    }

  private:
    std::string NameOf(std::map<uint32_t, std::string>& known, uint32_t id, bool group) {
        auto it = known.find(id);
        if (it != known.end()) return it->second;
        std::string name;
        const bool found = group ? site_.groups_->GroupNameOf(static_cast<int32_t>(id), name)
                                 : site_.accounts_->UserNameOf(static_cast<int32_t>(id), name);
        return known.emplace(id, found ? name : kUnknownOwner).first->second;
    }

    ServerSite& site_;
    std::optional<UserRecord> record_;
    bool siteop_ = false;
    bool known_ = false;  // the account exists
    std::optional<uint32_t> uid_, gid_;
    ServerSite::Entry entry_;
    std::map<uint32_t, std::string> owners_, groups_;
};

std::unique_ptr<EntryFacts> ServerSite::MachineFacts(const std::string& user) {
    return std::make_unique<ListingFacts>(*this, user);
}

std::string ServerSite::FormatListingLine(const std::string& path, const FileInfo& info,
                                          const std::string& currentYear) {
    Entry entry;
    DescribeKnown(path, (info.mode & kModeDirectory) != 0, entry);
    EntryOwnership names = OwnershipOf(entry);
    std::string& owner = names.owner;
    std::string& group = names.group;
    StringUtil::Truncate(owner, kListingNameMax);
    StringUtil::Truncate(group, kListingNameMax);

    // The modification time: what a Linux user knows a file's date by, and the one time a client
    // can set, so mirrors compare it and old files show their year.
    std::string date = FormatTime("%Y %b %d %H:%M", info.modifyTime);
    if (date.size() >= 17 && currentYear.compare(0, 4, date, 0, 4) != 0)
        date = date.substr(0, 12) + StringUtil::Format("%5.4s", date.c_str());
    if (date.size() >= 5) date.erase(0, 5);
    std::string line = StringUtil::FormatBounded(
        kListingLineSize, "%c%9s %3ld %-8s %-8s %10llu %s ", entry.directory ? 'd' : '-',
        entry.mode.c_str(), entry.directory ? 2L : 1L, owner.c_str(), group.c_str(),
        static_cast<unsigned long long>(info.size), date.c_str());
    StringUtil::AppendBounded(line, FileUtil::AfterLastSep(path), kListingLineSize);
    return line;
}

bool ServerSite::EntryIds(const std::string& user, uint32_t& uid, uint32_t& gid) {
    std::optional<uint32_t> owner, group;
    if (IsSharedName(user)) {
        const std::optional<Account> shared = accounts_->FindRemoteAccount(user);
        const std::optional<UserRecord> record = FindUser(user);
        if (!shared || !record) return false;
        owner = ReadId(shared->uid);
        const int32_t id = groups_->GroupIdOf(record->group);
        group = id > 0 ? static_cast<uint32_t>(id) : 100u;
    } else {
        const std::optional<Account> account = AccountOf(user);
        if (!account) return false;
        owner = ReadId(account->uid);
        group = ReadId(account->gid);
    }
    if (!owner || *owner == 0) return false;
    uid = *owner;
    gid = group.value_or(100);
    return true;
}

int ServerSite::RegisterNewEntry(const std::string& path, const std::string& user, int64_t size) {
    uint32_t uid = 0, gid = 0;
    // An upload whose file is gone by its end (removed after it failed) leaves no record.
    if (size < 0 && FileUtil::Kind(path) == 0) return filesystem_->DeleteFileRecord(path) ? 1 : 0;
    if (!EntryIds(user, uid, gid)) return 0;
    return filesystem_->SetFile(path, nullptr, uid, gid, size, 0);
}

void ServerSite::SetTransferRate(uint32_t connection, uint32_t bytesPerSecond) {
    registry_->SetRate(connection, bytesPerSecond);
}

uint32_t ServerSite::GetDownloadSpeedLimit(const std::string& user) {
    return users_->GetDownloadSpeedLimit(user);
}

uint32_t ServerSite::GetUploadSpeedLimit(const std::string& user) {
    return users_->GetUploadSpeedLimit(user);
}

int ServerSite::CheckFxp(const std::string& user, int, int passive) {
    const std::optional<UserRecord> record = FindUser(user);
    if (!record) return 0;
    return config_->MatchFxp(user, record->group, record->flags, passive != 0) ? 1 : 0;
}

bool ServerSite::AllowServicePorts() {
    return config_->GetAllowServicePorts() != 0;
}

std::optional<std::string> ServerSite::GetPrivateKeyPem() {
    return certs_->GetPrivateKeyPem();
}

std::optional<std::string> ServerSite::GetCertificatePem() {
    return certs_->GetCertificatePem();
}

bool ServerSite::GetKeyPassPhrase(std::string& out) {
    out = CertStore::GetKeyPassPhrase(64);
    return true;
}

}  // namespace orvex
