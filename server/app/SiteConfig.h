#pragma once
// The main server's configuration: one record read from the configuration file, reloaded when
// the file changes, applied to the site's logs, passive ports and speed limits. Every operation
// holds the object's lock and returns copies, so a reload never pulls a record from under a caller.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ThreadUtil.h"
#include "server/app/SiteConfigRecord.h"

namespace orvex {

class FtpSite;

class SiteConfig {
  public:
    // `site` receives the parse messages and the log, passive-port and speed settings; may be null.
    explicit SiteConfig(FtpSite* site = nullptr);
    ~SiteConfig();
    SiteConfig(const SiteConfig&) = delete;
    SiteConfig& operator=(const SiteConfig&) = delete;

    // Reads `path` (internal form) unless the loaded record came from the same unchanged file.
    // A failed read or validation keeps the record in force and forgets nothing about it, so the
    // next call parses again.
    bool Load(std::string_view path);
    bool IsLoaded() const;
    std::optional<SiteConfigRecord> Snapshot() const;

    // True once every `fs_sync_freq` minutes (never when 0); restarts the interval when true.
    bool IsFsSyncDue();
    bool IsFsSyncDueAt(int64_t now);

    std::string GetRootPath() const;
    std::string GetDataPath() const;  // full: root + data path
    std::string GetDefaultHomeDir() const;
    std::string GetBindIp() const;
    std::string GetLoginPrompt() const;
    std::string GetSiteNameLong() const;
    std::string GetSiteNameShort() const;
    std::string GetServerIp() const;
    std::string GetSiteIp() const;
    // The site address as the file gives it; empty when it was guessed.
    std::string GetGivenSiteIp() const;
    std::string GetNukeDirPrefix() const;
    uint32_t GetMaxUsers() const;
    uint32_t GetMaxExemptUsers() const;
    uint32_t GetShutdown() const;
    uint32_t GetAuthMode() const;
    uint32_t GetServerPort() const;
    uint32_t GetSslPort() const;
    uint32_t GetResolveDns() const;
    // Connections waiting to log in: from one address, from all.
    uint32_t GetMaxPendingPerIp() const;
    uint32_t GetMaxPending() const;
    uint32_t GetAllowServicePorts() const;
    bool GetTrustPeerAdminFlags() const;
    uint32_t GetNukeRename() const;
    uint32_t GetNukeEmptyKb() const;      // size at or below which a nuked directory is empty
    uint32_t GetNukeEmptyCharge() const;  // KB charged for nuking an empty directory
    uint32_t GetNukeMultMax() const;
    uint32_t GetDupeCheckDays() const;
    uint32_t GetFsSyncFreq() const;
    JournalSync GetJournalSync() const;  // Second before the first load
    std::vector<std::string> GetIgnoreTypes() const;
    bool IsIgnoredType(std::string_view fileName) const;

    // Change the loaded record only; the file is not written. False before the first load.
    bool SetShutdown(uint32_t level);
    bool SetAuthMode(uint32_t mode);

    bool MatchFxp(std::string_view user, std::string_view group, std::string_view flags,
                  bool passive) const;
    // The command's built-in or `site_flags` expression, else its `custom` line, else refused.
    int MatchSiteCommand(std::string_view command, std::string_view user, std::string_view group,
                         std::string_view flags) const;
    std::optional<CustomCommand> FindCustomCommand(std::string_view name) const;
    // phase 1 "pre", 2 "post", 0 either.
    std::optional<CustomScript> FindCustomScript(std::string_view command, int phase) const;

  private:
    void Log(const std::string& message);
    void ApplyToSite(const SiteConfigRecord& r);

    FtpSite* site_;
    mutable Lock lock_;
    std::unique_ptr<SiteConfigRecord> record_;
    int64_t lastSync_;
};

}  // namespace orvex
