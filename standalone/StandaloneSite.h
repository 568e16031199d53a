#pragma once
// The standalone server's site: users from one file or the command line, permission letters,
// level-mapped logs with a reduced access log, an optional passive-port table and TLS material
// generated in memory.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FtpSite.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"

namespace orvex {

inline constexpr const char* kVantorName = "Vantor";
inline constexpr const char* kVantorVersion = "1.0.7_beta";
inline constexpr const char* kVantorEngineVersion = "1.0.7";
inline constexpr const char* kDefaultPermissions = "lvcpstduoamn";
inline constexpr const char* kKeyPassPhrase = "brindle";

inline constexpr size_t kUserNameMax = 63;
inline constexpr size_t kPasswordFieldMax = 63;
inline constexpr size_t kHomeFieldMax = 263;
inline constexpr size_t kPermissionsMax = 15;

struct UserRecord {
    Account account;
    std::string permissions;  // at most 15 letters
};

using UserList = KeyedList<UserRecord>;

class StandaloneSite : public FtpSite {
  public:
    StandaloneSite();
    ~StandaloneSite() override;

    // The user list. A reload builds the new list first and swaps it in whole, so a client
    // never sees a half-loaded list.
    void ReplaceUsers(UserList users);
    // Appends unless the name (any case) is taken; false then.
    bool AddUser(const UserRecord& user);
    size_t UserCount();

    bool UserExists(std::string& user) override;
    std::optional<Account> GetAccount(const std::string& user) override;
    bool CheckPermission(const std::string& user, const std::string& path,
                         std::string_view letters) override;

    void SetProgramLogLevel(int level) override;
    void SetAccessLogLevel(int level) override;
    bool LogAccess(const AccessLogEntry& e) override;

    int SetPassivePortRange(int low, int high) override;
    int OpenPassiveSocket(std::string& portText, int& fd, const std::string& localIp) override;
    int ClosePassiveSocket(int fd) override;
    // The table's ports in the order they are handed out (for inspection).
    std::vector<uint16_t> PassivePorts();

    // Generates the key pair and certificate once; later calls report the first outcome.
    bool PrepareTls();
    std::optional<std::string> GetPrivateKeyPem() override;
    std::optional<std::string> GetCertificatePem() override;
    std::optional<std::string> GetPublicKeyPem();
    bool GetKeyPassPhrase(std::string& out) override;

    // Whether new connections look up the client's host name (after the greeting).
    void SetResolveNames(bool on) { resolveNames_ = on; }
    bool ResolveNames() const { return resolveNames_; }

    // Level 0..6 -> log mode 0..3; -1 for a level out of range.
    static int LevelToMode(int level);

  protected:
    // Opens a bound data socket on `port` (the seam the tests replace to simulate busy ports).
    virtual int OpenDataSocketOn(std::string& portText, const std::string& ip, uint16_t port);

  private:
    std::atomic<bool> resolveNames_{true};
    struct PassivePort {
        uint16_t port = 0;
        int fd = -1;
    };

    Lock userLock_;
    UserList users_{"User List Header"};
    std::atomic<int> rawAccessLevel_{0};

    Lock portLock_;
    std::vector<PassivePort> ports_;  // empty: any port
    uint16_t lowPort_ = 0, highPort_ = 0;

    Lock tlsLock_;
    bool tlsTried_ = false;
    std::string privateKeyPem_, publicKeyPem_, certificatePem_;
};

}  // namespace orvex
