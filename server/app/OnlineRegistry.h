#pragma once
// Who is logged in right now. A connection enters after a successful login and leaves when it
// ends; its number identifies it to every other part of the server. Everything handed out is a
// copy taken under the registry lock.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"

namespace orvex {

class FtpSession;

// Visible limit of the three text fields (characters).
inline constexpr size_t kOnlineTextMax = 79;

struct OnlineRecord {
    std::string lastCommand;  // as received; a password is never kept
    int64_t lastActive = 0;   // seconds since 1970
    int64_t loginTime = 0;
    std::string lastTransferCommand;  // the last RETR, STOR, STOU or APPE line
    uint32_t currentRate = 0;         // bytes per second of the running transfer
    std::string clientIp;
};

// One session of a user as SITE STATE shows it.
struct OnlineSessionInfo {
    std::string user;
    uint32_t connection = 0;
    std::string cwd;
    std::string clientIp;
    std::string clientHost;
    int clientPort = 0;
    int64_t lastActive = 0;
    int listings = 0;
    int transfers = 0;
    bool tls = false;
    bool dataEncrypted = false;
    bool passive = false;
};

enum class OnlineKind { All = 0, Local = 1, Shared = 2 };
enum TransferKind { kNoTransfer = 0, kDownload = 1, kUpload = 2 };

class OnlineRegistry {
  public:
    OnlineRegistry() = default;
    OnlineRegistry(const OnlineRegistry&) = delete;
    OnlineRegistry& operator=(const OnlineRegistry&) = delete;

    // The new connection number (one above the highest online), or 0 for a missing argument.
    uint32_t Register(const std::string& user, FtpSession* session, const std::string& clientIp);
    bool Unregister(uint32_t connection);
    size_t CountOnline() const;

    // Stamps a received command line; a PASS line is kept without its argument.
    bool Touch(uint32_t connection, std::string_view line);
    static int KindOf(std::string_view line);
    // Records a transfer line; the kind, or 0 for other lines and unknown numbers.
    int NoteTransfer(uint32_t connection, std::string_view line);
    void SetRate(uint32_t connection, uint32_t bytesPerSecond);

    std::optional<OnlineRecord> CopyRecord(uint32_t connection) const;
    std::optional<std::string> LastTransferCommand(uint32_t connection) const;
    std::optional<std::string> UserName(uint32_t connection) const;
    // Head "online userlist header"; same numbers, names and order as the registry.
    KeyedList<OnlineRecord> Snapshot(OnlineKind kind) const;

    // Logins of `user` (any case), only from `clientIp` when one is given.
    int CountLogins(std::string_view user, const std::string* clientIp = nullptr) const;
    // Every user online once (one spelling of each) with their logins.
    std::vector<std::pair<std::string, int>> OnlineUsers() const;
    bool Kill(uint32_t connection);
    // Asks every session of `user` but the spared one to end; how many were asked.
    int KickUser(std::string_view user, uint32_t spare);
    // Sessions with a running data thread whose last transfer line is of `kind` (0: any).
    int CountTransfers(std::string_view user, int kind) const;
    int CountTransfers(uint32_t connection, int kind) const;
    // Empty when the user is not online.
    std::vector<OnlineSessionInfo> SessionsOf(std::string_view user) const;
    // What a session publishes of itself after each command, so that other threads read the
    // registry's copy and never the session's own fields while it changes them.
    void NoteState(uint32_t connection, std::string_view cwd, bool passive);

  private:
    struct LiveSession {
        FtpSession* session = nullptr;  // owned by its client thread
        std::string cwd;
        bool passive = false;
    };

    // Logins per user and address, kept with the members so that a login's limits are looked
    // up instead of counted.
    struct UserTally {
        std::string name;  // as the first of its sessions spelled it
        int logins = 0;
        std::unordered_map<std::string, int> fromAddress;
    };

    static void Store(std::string& field, std::string_view text);
    void Tally(const std::string& user, const std::string& clientIp, int change);
    int CountTransfersWhere(std::string_view user, uint32_t connection, int kind) const;

    mutable Lock lock_;
    mutable KeyedList<OnlineRecord> online_{"Online User List Header"};
    mutable KeyedList<LiveSession> sessions_{"Connection Objects List Header"};
    std::unordered_map<std::string, UserTally> tallies_;  // by the name in lower case
};

}  // namespace orvex
