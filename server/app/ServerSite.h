#pragma once
// The main server's site object: owns every store of the server for the life of the process and
// answers the engine's questions (accounts, permissions, paths, passive ports, listing lines,
// logs, TLS material) from them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FtpSite.h"
#include "engine/ThreadUtil.h"
#include "server/accounts/Credits.h"

namespace orvex {

class SiteConfig;
class UserStore;
class AccountStore;
class GroupStore;
class OnlineRegistry;
class AliasStore;
class LinksStore;
class MirrorStore;
class Filesystem;
class CertStore;
struct UserRecord;

inline constexpr const char* kServerName = "Orvex";
inline constexpr const char* kServerVersion = "1.0.5_beta";
inline constexpr const char* kEngineVersion = "1.0.8";
// The platform the server runs on, as SITE VERS names it.
inline constexpr const char* kPlatformWord = "LINUX";

class ServerSite : public FtpSite {
  public:
    ServerSite();
    ~ServerSite() override;

    SiteConfig& Config() { return *config_; }
    UserStore& Users() { return *users_; }
    AccountStore& Accounts() { return *accounts_; }
    GroupStore& Groups() { return *groups_; }
    OnlineRegistry& Registry() { return *registry_; }
    AliasStore& Aliases() { return *aliases_; }
    LinksStore& Links() { return *links_; }
    MirrorStore& Mirrors() { return *mirrors_; }
    Filesystem& Files() { return *filesystem_; }
    CertStore& Certs() { return *certs_; }
    int64_t StartTime() const { return startTime_; }
    // Held by every change of the requests file, so that adding and filling never race.
    Lock& RequestsLock() { return requestsLock_; }

    // Ids still referred to outside the passwd and group files, which new accounts and groups
    // must not be given: owners named by the filesystem records and the dupe log, and for
    // groups also the group ids of accounts.
    std::vector<int32_t> ReferencedUserIds();
    std::vector<int32_t> ReferencedGroupIds();

    // Hands the file paths of the loaded configuration to the account stores. Runs after every
    // configuration load; cheap when nothing changed.
    void ConfigureStores();

    // Paths under the full data path; none before the configuration is loaded.
    std::string MakeDataPath(std::string_view sub, std::string_view name = {});
    std::string MakeRootPath(std::string_view sub, std::string_view name = {}) override;
    std::string MakeHomePath(std::string_view sub, std::string_view name = {}) override;

    bool UserExists(std::string& user) override;
    std::optional<Account> GetAccount(const std::string& user) override;
    bool CheckPermission(const std::string& user, const std::string& path,
                         std::string_view letters) override;

    void SetProgramLogLevel(int value) override;
    void SetAccessLogLevel(int value) override;
    int RawAccessLogLevel() const { return rawAccessLevel_; }
    bool LogAccess(const AccessLogEntry& e) override;

    int SetPassivePortRange(int low, int high) override;
    int OpenPassiveSocket(std::string& portText, int& fd, const std::string& localIp) override;
    int ClosePassiveSocket(int fd) override;
    // The passive ports in the order they are tried, for reports and tests.
    std::vector<uint16_t> PassivePorts() const;

    EntryOwnership DescribeOwnership(const std::string& path, const FileInfo& info) override;
    // Reads the user and the account once per listing, not once per entry and letter.
    std::unique_ptr<EntryFacts> MachineFacts(const std::string& user) override;
    using FtpSite::FormatListingLine;
    std::string FormatListingLine(const std::string& path, const FileInfo& info,
                                  const std::string& currentYear) override;
    int RegisterNewEntry(const std::string& path, const std::string& user, int64_t size) override;
    // The owner and group ids of what `user` creates: a local user's passwd ids; for a user of
    // another server the shared table's id and its group's id (100 when unknown). False when
    // the user has no usable id.
    bool EntryIds(const std::string& user, uint32_t& uid, uint32_t& gid);
    void SetTransferRate(uint32_t connection, uint32_t bytesPerSecond) override;
    uint32_t GetDownloadSpeedLimit(const std::string& user) override;
    uint32_t GetUploadSpeedLimit(const std::string& user) override;
    int CheckFxp(const std::string& user, int direction, int passive) override;
    bool AllowServicePorts() override;

    // Credits and statistics of finished transfers: local ones call these through the engine,
    // transfers through remote aliases call them with the remote's sizes and times.
    int RecordDownload(uint32_t connection, const std::string& user, uint64_t bytes,
                       uint32_t rate) override;
    int RecordUpload(uint32_t connection, const std::string& user, uint64_t bytes,
                     uint32_t rate) override;
    int AddCredits(const std::string& path, uint32_t connection, const std::string& user,
                   uint64_t bytes, int applyRatio) override;
    int TakeCredits(const std::string& path, uint32_t connection, const std::string& user,
                    uint64_t bytes, int applyRatio) override;
    // The period resets for every user, on the first call and then once per day; the number of
    // users whose periods ended and who were saved. `now` 0 is the current time.
    int RunDailyPass(int64_t now = 0);

    std::optional<std::string> GetPrivateKeyPem() override;
    std::optional<std::string> GetCertificatePem() override;
    bool GetKeyPassPhrase(std::string& out) override;

  private:
    friend class ListingFacts;
    struct PassivePort {
        uint16_t port = 0;
        int fd = -1;
    };
    // Mode string, owner and group of an existing path; false when it does not exist.
    struct Entry {
        bool directory = false;
        std::string mode;
        std::optional<uint32_t> owner, group;
    };
    bool DescribeEntry(const std::string& path, Entry& out);
    void DescribeKnown(const std::string& path, bool directory, Entry& out);
    EntryOwnership OwnershipOf(const Entry& entry);
    int RecordTransfer(uint32_t connection, const std::string& user, uint64_t bytes, uint32_t rate,
                       bool upload);
    std::optional<Account> AccountOf(const std::string& user);
    std::optional<UserRecord> FindUser(const std::string& user);

    std::unique_ptr<SiteConfig> config_;
    std::unique_ptr<UserStore> users_;
    std::unique_ptr<AccountStore> accounts_;
    std::unique_ptr<GroupStore> groups_;
    std::unique_ptr<OnlineRegistry> registry_;
    std::unique_ptr<AliasStore> aliases_;
    std::unique_ptr<LinksStore> links_;
    std::unique_ptr<MirrorStore> mirrors_;
    std::unique_ptr<Filesystem> filesystem_;
    std::unique_ptr<CertStore> certs_;
    std::atomic<int> rawAccessLevel_{0};
    mutable Lock siteLock_;
    Lock requestsLock_;
    std::vector<PassivePort> passivePorts_;
    uint16_t passiveLow_ = 0, passiveHigh_ = 0;
    int64_t startTime_;
    Credits::DailySchedule dailyPass_;  // main thread only
};

// Whether a mode string grants any of `letters`: its "other" triple to everybody, its group triple
// when the entry's group is the user's, its owner triple when the user owns the entry. An unknown
// owner or group matches nobody.
bool TriplesGrant(std::string_view mode, std::string_view letters, std::optional<uint32_t> owner,
                  std::optional<uint32_t> group, std::optional<uint32_t> uid,
                  std::optional<uint32_t> gid);

// Maps the levels 0..6 onto the log modes; -1 for a level outside that range.
int LogModeOfLevel(int level);

}  // namespace orvex
