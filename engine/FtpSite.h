#pragma once
// The server-wide object every session and transfer points to. The base answers every question
// permissively so that the engine runs on its own; servers override what they need.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EdgeSettings.h"
#include "engine/Logger.h"
#include "engine/Metrics.h"
#include "engine/PendingLogins.h"
#include "engine/ThreadUtil.h"

namespace orvex {

// What PASS needs of an account. The fields keep the limits of the stored record.
struct Account {
    std::string user;      // 63
    std::string password;  // 63, hex of the encrypted password
    std::string uid;       // 15
    std::string gid;       // 15; "99" accepts any password
    std::string added;     // 63
    std::string home;      // 264
};

// Who owns a directory entry and its permission bits, as the site shows them in listings.
struct EntryOwnership {
    std::string owner;
    std::string group;
    uint32_t mode = 0;  // permission bits (0777)
};

// What a machine listing tells of its entries: a listing takes one and asks it about every entry,
// so the site can read what all entries share (the user, the folder's records) once.
class EntryFacts {
  public:
    virtual ~EntryFacts() = default;
    // Makes `path` (a directory ends in the separator) the entry the next questions are about.
    virtual void Describe(const std::string& path, const FileInfo& info) = 0;
    // Whether the user holds any of `letters` on the entry.
    virtual bool Allows(std::string_view letters) = 0;
    virtual EntryOwnership Ownership() = 0;
};

struct AccessLogEntry {
    std::string_view localIp, localPort, peerIp, peerPort, user, verb, args, code, text;
};

class FtpSite {
  public:
    FtpSite(const char* siteName = nullptr, const char* siteVersion = nullptr,
            const char* engineVersion = nullptr, const char* baseDir = nullptr);
    virtual ~FtpSite();
    FtpSite(const FtpSite&) = delete;
    FtpSite& operator=(const FtpSite&) = delete;

    std::string GetSiteName() const { return siteName_; }
    std::string GetSiteVersion() const { return siteVersion_; }
    std::string GetEngineVersion() const { return engineVersion_; }
    const std::string& BaseDirectory() const { return baseDir_; }

    // strftime plus "%O" (UTC offset in minutes, signed). time 0 = now. Empty when the result does
    // not fit in capacity-1 characters.
    static std::string FormatTime(std::string_view format, int64_t time = 0, bool utc = false,
                                  size_t capacity = 256);
    static bool BreakDownTime(int64_t time, struct tm& out, bool utc);
    static int UtcOffsetMinutes();  // positive east of Greenwich
    static int UtcHour(int hour, int offset);
    static int UtcMinute(int minute, int offset);

    // Accounts and permissions.
    virtual bool UserExists(std::string& user);
    virtual std::optional<Account> GetAccount(const std::string& user);
    // `path` empty = no path. True when the user may act with any one of `letters`.
    virtual bool CheckPermission(const std::string& user, const std::string& path,
                                 std::string_view letters);
    virtual std::string MakeRootPath(std::string_view sub, std::string_view name = {});
    virtual std::string MakeHomePath(std::string_view sub, std::string_view name = {});

    // Logs.
    virtual void SetLogDateFormat(std::string_view format);
    virtual void SetProgramLogLevel(int value);
    virtual void SetProgramLogFormat(std::string_view format);
    virtual bool SetProgramLogFile(std::string_view name, std::string_view directory = {});
    // The message is formatted before anything else; never pass client text as `fmt`.
    bool LogProgram(const char* subsystem, const char* fmt, ...)
        __attribute__((format(printf, 3, 4)));
    virtual bool LogProgramLine(std::string_view subsystem, std::string_view message);
    virtual void SetAccessLogLevel(int value);
    virtual void SetAccessLogFormat(std::string_view format);
    virtual bool SetAccessLogFile(std::string_view name, std::string_view directory = {});
    virtual bool LogAccess(const AccessLogEntry& e);
    void FlushLogs();

    // Passive ports: OpenPassiveSocket gives 1 opened, 0 failed, -1 not provided.
    virtual int SetPassivePortRange(int low, int high);
    virtual int OpenPassiveSocket(std::string& portText, int& fd, const std::string& localIp);
    virtual int ClosePassiveSocket(int fd);  // 1 when the site closed it

    // The listing line of `path`, whose status the listing has read already (once per entry).
    virtual std::string FormatListingLine(const std::string& path, const FileInfo& info,
                                          const std::string& currentYear);
    // The same, reading the status itself; empty when the path cannot be read.
    std::string FormatListingLine(const std::string& path, const std::string& currentYear);

    // The owner, group and permission bits that listings show for `path`.
    virtual EntryOwnership DescribeOwnership(const std::string& path, const FileInfo& info);
    // The facts of `user`'s machine listings; the base asks CheckPermission and
    // DescribeOwnership for every entry.
    virtual std::unique_ptr<EntryFacts> MachineFacts(const std::string& user);

    // Transfer accounting hooks.
    virtual int RegisterNewEntry(const std::string& path, const std::string& user, int64_t size);
    virtual void SetTransferRate(uint32_t connection, uint32_t bytesPerSecond);
    virtual uint32_t GetDownloadSpeedLimit(const std::string& user);
    virtual uint32_t GetUploadSpeedLimit(const std::string& user);
    virtual int RecordDownload(uint32_t connection, const std::string& user, uint64_t bytes,
                               uint32_t rate);
    virtual int RecordUpload(uint32_t connection, const std::string& user, uint64_t bytes,
                             uint32_t rate);
    virtual int AddCredits(const std::string& path, uint32_t connection, const std::string& user,
                           uint64_t bytes, int applyRatio);
    virtual int TakeCredits(const std::string& path, uint32_t connection, const std::string& user,
                            uint64_t bytes, int applyRatio);  // 0 refuses
    // A data connection to or from another address than the client's; the base refuses it, so
    // a server allows FXP only by saying so.
    virtual int CheckFxp(const std::string& user, int direction, int passive);  // 0 refuses
    // Whether a data connection of `user` may run to `address` for a client at `clientIp`:
    // always to the client itself, to a third host only when CheckFxp allows it. Direction -1
    // (not known yet) needs both directions allowed.
    bool AllowsDataPeer(const std::string& user, const std::string& clientIp,
                        const std::string& address, int direction, int passive);
    // Whether PORT may name a port of 1024 or below (the base refuses them).
    virtual bool AllowServicePorts();
    // Whether a PORT argument names a target a data connection may be opened to at all: every
    // field a byte, a real address and port, and no service port unless allowed. Who may be
    // that target is AllowsDataPeer's question.
    bool AcceptsPortTarget(std::string_view argument, std::string& address, unsigned& port);
    // The same rule for an address and port already parsed (EPRT).
    bool UsableActiveTarget(const std::string& address, unsigned port);

    // TLS material.
    virtual std::optional<std::string> GetPrivateKeyPem();
    virtual std::optional<std::string> GetCertificatePem();
    virtual bool GetKeyPassPhrase(std::string& out);

    // Site-wide speed limits (bytes per second, 0 none) and their half-second windows.
    struct SpeedWindow {
        std::atomic<uint32_t> limit{0};
        std::atomic<uint32_t> used{0};
        std::atomic<uint32_t> start{0};
        Lock lock;
    };
    SpeedWindow& SendWindow() { return send_; }
    SpeedWindow& ReceiveWindow() { return receive_; }
    void SetDownloadLimit(uint32_t bps) { send_.limit = bps; }
    void SetUploadLimit(uint32_t bps) { receive_.limit = bps; }

    // Connections that have not logged in yet, with their caps and deadline.
    PendingLogins& Logins() { return logins_; }

    // The load-balancer settings, as a copy: a reload may replace them at any time.
    EdgeSettings Edge() const;
    void SetEdge(EdgeSettings edge);
    Metrics& Stats() { return metrics_; }

  protected:
    // The time stamped on log lines and used to expand log file names (seconds since 1970).
    virtual int64_t LogTime() const;
    int ProgramLogMode() const { return programMode_; }
    int AccessLogMode() const { return accessMode_; }

  private:
    bool WriteLog(Lock& lock, Logger& logger, const std::string& fileFormat,
                  const std::string& lineFormat, std::string_view letters,
                  std::vector<std::string> values, int mode);

    SpeedWindow send_, receive_;
    PendingLogins logins_;
    Metrics metrics_;
    mutable Lock edgeLock_;
    EdgeSettings edge_;
    Logger programLog_{"ftpd.log", 0};
    Logger accessLog_{"%d%m%Y_access.log", 5};
    std::string baseDir_;
    Lock programLogLock_, accessLogLock_;
    std::string siteName_ = "DEFSRV";
    std::string siteVersion_ = "1.0.0";
    std::string engineVersion_ = "1.0.0";
    std::string programLogFile_ = "ftpd.log";
    std::string accessLogFile_ = "%d%m%Y_access.log";
    std::string dateFormat_ = "%d/%m/%Y:%H:%M:%S";
    std::string programLogFormat_ = "%D;%M";
    std::string accessLogFormat_ = "%d;%s;%l;%c;%p;%u;%m;%a;%r;%t";
    std::atomic<int> programMode_{2};
    std::atomic<int> accessMode_{2};
};

}  // namespace orvex
