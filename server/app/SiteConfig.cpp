#include "server/app/SiteConfig.h"

#include <cstdio>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"
#include "server/app/PermissionExpression.h"

namespace orvex {

namespace {

// Where the logs go until the first record names the data path.
constexpr const char* kStartLogDir = "..\\ftp-data\\logs\\";

template <class F>
auto With(Lock& lock, const std::unique_ptr<SiteConfigRecord>& rec, F f) -> decltype(f(*rec)) {
    LockGuard g(lock);
    if (!rec) return {};
    return f(*rec);
}

bool ReadAll(FILE* f, std::string& out) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return !ferror(f);
}

}  // namespace

SiteConfig::SiteConfig(FtpSite* site) : site_(site), lastSync_(Clock::NowSeconds()) {}

SiteConfig::~SiteConfig() = default;

void SiteConfig::Log(const std::string& message) {
    if (site_) site_->LogProgramLine("MAIN", message);
}

bool SiteConfig::Load(std::string_view path) {
    LockGuard g(lock_);
    const std::string name(path);
    FileStamp stamp;
    const bool stamped = ReadFileStamp(path, stamp);
    if (record_ && stamped && record_->stamp == stamp) return true;

    if (!record_ && site_) {
        site_->SetProgramLogFile("orvex.log", kStartLogDir);
        site_->SetAccessLogFile("%d%m%Y_access.log", kStartLogDir);
    }
    if (!stamped)
        Log(StringUtil::Format("WARNING: unable to get statistics for file '%s'.", name.c_str()));

    std::string text;
    {
        UniqueFile file = FileUtil::OpenFile(path, "rb");
        if (!file || !ReadAll(file.get(), text)) {
            Log(StringUtil::Format("WARNING: unable to open file '%s' for reading.", name.c_str()));
            return false;
        }
    }
    auto fresh = std::make_unique<SiteConfigRecord>();
    if (!ParseSiteConfig(text, name, *fresh, [this](const std::string& m) { Log(m); }))
        return false;
    // Without a stamp the next call parses again, which is what a changed file would get.
    fresh->stamp = stamped ? stamp : FileStamp{};
    record_ = std::move(fresh);
    ApplyToSite(*record_);
    return true;
}

void SiteConfig::ApplyToSite(const SiteConfigRecord& r) {
    if (!site_) return;
    site_->SetDownloadLimit(r.downloadLimit);
    site_->SetUploadLimit(r.uploadLimit);
    site_->SetPassivePortRange(static_cast<int>(r.pasvLow), static_cast<int>(r.pasvHigh));
    site_->SetEdge(r.edge);
    const std::string logs = r.fullDataPath + "logs\\";
    site_->SetProgramLogFile(r.logProgName, logs);
    site_->SetAccessLogFile(r.logAccessName, logs);
    site_->SetProgramLogFormat(r.logProgFormat);
    site_->SetAccessLogFormat(r.logAccessFormat);
    site_->SetLogDateFormat(r.logDateFormat);
}

bool SiteConfig::IsLoaded() const {
    LockGuard g(lock_);
    return record_ != nullptr;
}

std::optional<SiteConfigRecord> SiteConfig::Snapshot() const {
    LockGuard g(lock_);
    if (!record_) return std::nullopt;
    return *record_;
}

bool SiteConfig::IsFsSyncDue() {
    return IsFsSyncDueAt(Clock::NowSeconds());
}

bool SiteConfig::IsFsSyncDueAt(int64_t now) {
    LockGuard g(lock_);
    if (!record_ || record_->fsSyncFreq == 0) return false;
    if ((now - lastSync_) / 60 < static_cast<int64_t>(record_->fsSyncFreq)) return false;
    lastSync_ = now;
    return true;
}

using R = SiteConfigRecord;

std::string SiteConfig::GetRootPath() const {
    return With(lock_, record_, [](const R& r) { return r.rootPath; });
}
std::string SiteConfig::GetDataPath() const {
    return With(lock_, record_, [](const R& r) { return r.fullDataPath; });
}
std::string SiteConfig::GetDefaultHomeDir() const {
    return With(lock_, record_, [](const R& r) { return r.defaultHomeDir; });
}
std::string SiteConfig::GetBindIp() const {
    return With(lock_, record_, [](const R& r) { return r.bindIp; });
}
std::string SiteConfig::GetLoginPrompt() const {
    return With(lock_, record_, [](const R& r) { return r.loginPrompt; });
}
std::string SiteConfig::GetSiteNameLong() const {
    return With(lock_, record_, [](const R& r) { return r.siteNameLong; });
}
std::string SiteConfig::GetSiteNameShort() const {
    return With(lock_, record_, [](const R& r) { return r.siteNameShort; });
}
std::string SiteConfig::GetServerIp() const {
    return With(lock_, record_, [](const R& r) { return r.serverIp; });
}
std::string SiteConfig::GetSiteIp() const {
    return With(lock_, record_, [](const R& r) { return r.siteIp; });
}
std::string SiteConfig::GetGivenSiteIp() const {
    return With(lock_, record_,
                [](const R& r) { return r.siteIpGiven ? r.siteIp : std::string(); });
}
std::string SiteConfig::GetNukeDirPrefix() const {
    return With(lock_, record_, [](const R& r) { return r.nukePrefix; });
}
uint32_t SiteConfig::GetMaxUsers() const {
    return With(lock_, record_, [](const R& r) { return r.maxUsers; });
}
uint32_t SiteConfig::GetMaxExemptUsers() const {
    return With(lock_, record_, [](const R& r) { return r.maxExemptUsers; });
}
uint32_t SiteConfig::GetShutdown() const {
    return With(lock_, record_, [](const R& r) { return r.shutdown; });
}
uint32_t SiteConfig::GetAuthMode() const {
    return With(lock_, record_, [](const R& r) { return r.authMode; });
}
uint32_t SiteConfig::GetServerPort() const {
    return With(lock_, record_, [](const R& r) { return r.serverPort; });
}
uint32_t SiteConfig::GetSslPort() const {
    return With(lock_, record_, [](const R& r) { return r.sslPort; });
}
uint32_t SiteConfig::GetResolveDns() const {
    return With(lock_, record_, [](const R& r) { return r.resolveDns; });
}

uint32_t SiteConfig::GetMaxPendingPerIp() const {
    return With(lock_, record_, [](const R& r) { return r.maxPendingPerIp; });
}

uint32_t SiteConfig::GetMaxPending() const {
    return With(lock_, record_, [](const R& r) { return r.maxPending; });
}
uint32_t SiteConfig::GetAllowServicePorts() const {
    return With(lock_, record_, [](const R& r) { return r.allowServicePorts; });
}
bool SiteConfig::GetTrustPeerAdminFlags() const {
    return With(lock_, record_, [](const R& r) { return r.trustPeerAdminFlags != 0; });
}
uint32_t SiteConfig::GetNukeRename() const {
    return With(lock_, record_, [](const R& r) { return r.nukeRename; });
}
uint32_t SiteConfig::GetNukeEmptyKb() const {
    return With(lock_, record_, [](const R& r) { return r.nukeEmptyKb; });
}
uint32_t SiteConfig::GetNukeEmptyCharge() const {
    return With(lock_, record_, [](const R& r) { return r.nukeEmpty; });
}
uint32_t SiteConfig::GetNukeMultMax() const {
    return With(lock_, record_, [](const R& r) { return r.nukeMultMax; });
}
uint32_t SiteConfig::GetDupeCheckDays() const {
    return With(lock_, record_, [](const R& r) { return r.dupeCheck; });
}
uint32_t SiteConfig::GetFsSyncFreq() const {
    return With(lock_, record_, [](const R& r) { return r.fsSyncFreq; });
}
JournalSync SiteConfig::GetJournalSync() const {
    LockGuard g(lock_);
    return record_ ? record_->journalSync : JournalSync::Second;
}

std::vector<std::string> SiteConfig::GetIgnoreTypes() const {
    return With(lock_, record_, [](const R& r) {
        std::vector<std::string> masks;
        for (const auto& n : r.ignoreTypes)
            if (n.name) masks.push_back(*n.name);
        return masks;
    });
}

bool SiteConfig::IsIgnoredType(std::string_view fileName) const {
    return With(lock_, record_, [fileName](const R& r) {
        for (const auto& n : r.ignoreTypes)
            if (n.name && StringUtil::WildcardMatch(*n.name, fileName)) return true;
        return false;
    });
}

bool SiteConfig::SetShutdown(uint32_t level) {
    LockGuard g(lock_);
    if (!record_) return false;
    record_->shutdown = level;
    return true;
}

bool SiteConfig::SetAuthMode(uint32_t mode) {
    LockGuard g(lock_);
    if (!record_) return false;
    record_->authMode = mode;
    return true;
}

bool SiteConfig::MatchFxp(std::string_view user, std::string_view group, std::string_view flags,
                          bool passive) const {
    LockGuard g(lock_);
    if (!record_) return false;
    return MatchPermission(passive ? record_->fxpPasv : record_->fxpPort, user, group, flags);
}

int SiteConfig::MatchSiteCommand(std::string_view command, std::string_view user,
                                 std::string_view group, std::string_view flags) const {
    LockGuard g(lock_);
    if (!record_) return 0;
    if (const auto* n = record_->siteFlags.FindName(command, true))
        return MatchPermission(n->data, user, group, flags) ? 1 : 0;
    if (const auto* n = record_->customPermissions.FindName(command, true))
        return MatchPermission(n->data.expression, user, group, flags) ? 1 : 0;
    return 0;
}

std::optional<CustomCommand> SiteConfig::FindCustomCommand(std::string_view name) const {
    LockGuard g(lock_);
    if (!record_) return std::nullopt;
    if (const auto* n = record_->customCommands.FindName(name, true)) return n->data;
    return std::nullopt;
}

std::optional<CustomScript> SiteConfig::FindCustomScript(std::string_view command,
                                                         int phase) const {
    static constexpr const char* kPhases[] = {nullptr, "pre", "post"};
    if (phase < 0 || phase > 2) return std::nullopt;
    LockGuard g(lock_);
    if (!record_) return std::nullopt;
    for (const auto& n : record_->customScripts) {
        if (!StringUtil::EqualNoCase(n.data.command, command)) continue;
        if (phase == 0 || StringUtil::EqualNoCase(n.data.phase, kPhases[phase])) return n.data;
    }
    return std::nullopt;
}

}  // namespace orvex
