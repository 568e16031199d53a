#include "engine/FtpSite.h"

#include "engine/FileUtil.h"
#include "engine/Listing.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "engine/commands/PortArgument.h"

namespace orvex {

namespace {

std::string Bounded(const char* text, size_t max, const char* fallback) {
    std::string s = text ? text : fallback;
    StringUtil::Truncate(s, max);
    return s;
}

// Base directory + sub-path as a directory, then the name.
std::string JoinUnderBase(const std::string& base, std::string_view sub, std::string_view name) {
    std::string part(sub);
    FileUtil::ToBackslashes(part);
    std::string path = base + part;
    FileUtil::AddTrailingSep(path);
    path.append(name);
    return path;
}

}  // namespace

FtpSite::FtpSite(const char* siteName, const char* siteVersion, const char* engineVersion,
                 const char* baseDir)
    : siteName_(Bounded(siteName, 63, "DEFSRV")),
      siteVersion_(Bounded(siteVersion, 31, "1.0.0")),
      engineVersion_(Bounded(engineVersion, 31, "1.0.0")) {
    if (baseDir) {
        baseDir_ = baseDir;
        FileUtil::ToBackslashes(baseDir_);
        if (!baseDir_.empty()) FileUtil::AddTrailingSep(baseDir_);
    } else {
        baseDir_ = FileUtil::CurrentDir();  // empty when it cannot be read
    }
}

FtpSite::~FtpSite() = default;

EdgeSettings FtpSite::Edge() const {
    LockGuard g(edgeLock_);
    return edge_;
}

void FtpSite::SetEdge(EdgeSettings edge) {
    LockGuard g(edgeLock_);
    edge_ = std::move(edge);
}

bool FtpSite::UserExists(std::string&) {
    return true;
}

std::optional<Account> FtpSite::GetAccount(const std::string&) {
    Account a;
    a.gid = "99";
    return a;
}

bool FtpSite::CheckPermission(const std::string&, const std::string&, std::string_view letters) {
    return letters.find_first_of("lvcpstduoamnrwx") != std::string_view::npos;
}

std::string FtpSite::MakeRootPath(std::string_view sub, std::string_view name) {
    return JoinUnderBase(baseDir_, sub, name);
}

std::string FtpSite::MakeHomePath(std::string_view sub, std::string_view name) {
    return JoinUnderBase(baseDir_, sub, name);
}

int FtpSite::SetPassivePortRange(int, int) {
    return -1;
}
int FtpSite::OpenPassiveSocket(std::string&, int&, const std::string&) {
    return -1;
}
int FtpSite::ClosePassiveSocket(int) {
    return -1;
}

std::string FtpSite::FormatListingLine(const std::string& path, const FileInfo& info,
                                       const std::string& currentYear) {
    return BaseListingLine(path, info, currentYear, FileUtil::OwnerName(), FileUtil::GroupName());
}

EntryOwnership FtpSite::DescribeOwnership(const std::string&, const FileInfo& info) {
    return EntryOwnership{FileUtil::OwnerName(), FileUtil::GroupName(), info.mode & 0777};
}

namespace {

// Every question goes to the site's own operations.
class SiteEntryFacts : public EntryFacts {
  public:
    SiteEntryFacts(FtpSite& site, std::string user) : site_(site), user_(std::move(user)) {}
    void Describe(const std::string& path, const FileInfo& info) override {
        path_ = path;
        info_ = info;
    }
    bool Allows(std::string_view letters) override {
        return site_.CheckPermission(user_, path_, letters);
    }
    EntryOwnership Ownership() override { return site_.DescribeOwnership(path_, info_); }

  private:
    FtpSite& site_;
    std::string user_;
    std::string path_;
    FileInfo info_;
};

}  // namespace

std::unique_ptr<EntryFacts> FtpSite::MachineFacts(const std::string& user) {
    return std::make_unique<SiteEntryFacts>(*this, user);
}

std::string FtpSite::FormatListingLine(const std::string& path, const std::string& currentYear) {
    FileInfo info;
    if (!FileUtil::Stat(path, info)) return {};
    return FormatListingLine(path, info, currentYear);
}

int FtpSite::RegisterNewEntry(const std::string&, const std::string&, int64_t) {
    return 1;
}
void FtpSite::SetTransferRate(uint32_t, uint32_t) {}
uint32_t FtpSite::GetDownloadSpeedLimit(const std::string&) {
    return 0;
}
uint32_t FtpSite::GetUploadSpeedLimit(const std::string&) {
    return 0;
}
int FtpSite::RecordDownload(uint32_t, const std::string&, uint64_t, uint32_t) {
    return -1;
}
int FtpSite::RecordUpload(uint32_t, const std::string&, uint64_t, uint32_t) {
    return -1;
}
int FtpSite::AddCredits(const std::string&, uint32_t, const std::string&, uint64_t, int) {
    return -1;
}
int FtpSite::TakeCredits(const std::string&, uint32_t, const std::string&, uint64_t, int) {
    return -1;
}
int FtpSite::CheckFxp(const std::string&, int, int) {
    return 0;
}
bool FtpSite::AllowServicePorts() {
    return false;
}

bool FtpSite::AllowsDataPeer(const std::string& user, const std::string& clientIp,
                             const std::string& address, int direction, int passive) {
    if (SocketUtil::SameAddress(address, clientIp)) return true;
    if (direction < 0) return CheckFxp(user, 0, passive) != 0 && CheckFxp(user, 1, passive) != 0;
    return CheckFxp(user, direction, passive) != 0;
}

bool FtpSite::UsableActiveTarget(const std::string& address, unsigned port) {
    // Nobody listens on port 0 or at the unspecified address; a service port (1024 and below) is
    // where a bounce does harm, so the site must allow those.
    constexpr unsigned kLastServicePort = 1024;
    return port != 0 && !SocketUtil::IsUnspecified(address) &&
           (port > kLastServicePort || AllowServicePorts());
}

bool FtpSite::AcceptsPortTarget(std::string_view argument, std::string& address, unsigned& port) {
    return commands::ParsePortArgument(argument, address, port) &&
           UsableActiveTarget(address, port);
}

std::optional<std::string> FtpSite::GetPrivateKeyPem() {
    return std::nullopt;
}
std::optional<std::string> FtpSite::GetCertificatePem() {
    return std::nullopt;
}
bool FtpSite::GetKeyPassPhrase(std::string& out) {
    out.clear();
    return false;
}

}  // namespace orvex
