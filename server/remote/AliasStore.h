#pragma once
// Remote aliases: directories of the tree that stand for directories on other FTP servers. The
// table lives in etc/remote.aliases under the root path and is re-read whenever that file
// changes. Each alias also carries the pools of logged-in connections to its server, which
// sessions borrow to forward their commands.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FileStamp.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"
#include "server/remote/AliasFile.h"
#include "server/remote/RemoteConnection.h"

namespace orvex {

class ServerSite;

// Pool node ids: the connection number of the session holding the connection, or this.
inline constexpr int32_t kIdleConnection = -1;
// Every forwarded command waits this long for its reply.
inline constexpr int kForwardSeconds = 5;

struct AliasEntry {
    AliasRecord record;
    // Logged in with the alias's own account; a null node is a login in progress.
    KeyedList<RemoteConnectionPtr> sitePool{"Site Connection list"};
    // Type D only: logged in as a session's own user, which keeps it until it ends.
    KeyedList<RemoteConnectionPtr> userPool{"User Connection list"};
    // Type D only: users of other servers that came in through this alias.
    KeyedList<std::string> sharedUsers{"Shared user list"};
};

struct ConnectionInfo {
    std::string alias;
    int socket = -1;
    bool encrypted = false;
    int32_t holder = kIdleConnection;
    int64_t loginTime = 0;
    int64_t lastUse = 0;
};

enum class PoolKind { Site = 1, User = 2 };

// One of this server's users logged in on another server through that server's alias.
struct SharedConnection {
    std::string user;  // the name as the other server sent it
    std::string address;
    uint32_t port = 0;
    std::string alias;  // the local alias that points back at that server
};

// How an exchange with another server on a site connection ended.
enum class Talk { Done, Refused, Broken };

struct ForwardOptions {
    int seconds = kForwardSeconds;
    // A command whose effect the next one relies on (PASV, PORT, REST, RNFR, PROT): after a
    // 2xx or 3xx reply the session keeps the connection.
    bool hold = false;
    // The command that uses what the held connection carries (RNTO): it goes back after it.
    bool consume = false;
    // The TYPE and MODE the session's client set; restored on a connection that differs.
    const RemoteState* want = nullptr;
    // The servers the command has passed through, announced once per connection.
    std::string via;
};

// What the client did while its transfer ran on the remote server.
enum class ClientInput { Nothing, Other, Abort, HangUp };

struct FinalReplyWatch {
    const std::atomic<bool>* abort = nullptr;  // raised when the session is kicked
    int clientFd = -1;
    // Reads what the client sent; called when its connection has input.
    std::function<ClientInput()> clientInput;
};

struct FinalReply {
    RemoteReply reply;                     // empty when none came
    std::optional<RemoteReply> aborReply;  // the answer to an ABOR the client sent meanwhile
};

class AliasStore {
  public:
    explicit AliasStore(ServerSite& site);
    ~AliasStore();
    AliasStore(const AliasStore&) = delete;
    AliasStore& operator=(const AliasStore&) = delete;

    // 1 read or unchanged; 0 when the file cannot be found or read (the table is kept).
    int Load();
    // 1 added, 2 the directory is an alias already, 0 failure.
    int AddAlias(const AliasRecord& record);
    // 1 stored; 0 unknown alias, nothing changed, or the file not written.
    int ChangeAlias(std::string_view directory, const AliasRecord& record);
    // 1 deleted and the file rewritten, 0 otherwise.
    int DeleteAlias(std::string_view directory);
    std::optional<AliasRecord> GetAlias(std::string_view directory);
    std::vector<AliasRecord> ListAliases();
    // The alias whose directory is the longest prefix of `path` (any case).
    std::optional<AliasRecord> FindAliasForPath(std::string_view path) const;
    // Connections closed, or -1 for an unknown alias.
    int DisconnectAlias(std::string_view directory);

    // The pools (AliasPools.cpp). `connection` is the session's connection number; a failed
    // acquisition leaves the reason to show the client in `message`.
    RemoteConnectionPtr AcquireSiteConnection(uint32_t connection, std::string_view directory,
                                              std::string& message, int seconds);
    RemoteConnectionPtr AcquireConnection(uint32_t connection, std::string_view directory,
                                          std::string& message, int seconds);
    RemoteConnectionPtr FindHeldConnection(uint32_t connection, std::string_view directory);
    void ReleaseConnection(uint32_t connection, std::string_view directory, bool sitePool);
    // Gives back every site connection the session holds except the one for `keep`. Given
    // back, a connection whose state is still pending is closed instead of pooled.
    void ReleaseHeld(uint32_t connection, std::string_view keep = {});
    // Closes the pooled connections of the alias with that socket; how many.
    int DropConnection(std::string_view directory, int socket);
    // The alias whose pools hold `socket`.
    std::optional<std::string> AliasOfSocket(int socket) const;
    // Sends one command for the session and reads the reply. A refusal to lend a connection
    // comes back as a 451 reply; an empty reply when the server did not answer.
    RemoteReply ForwardCommand(uint32_t connection, std::string_view directory,
                               std::string_view line, const ForwardOptions& options = {});
    // After a 1xx reply: waits for the final one on the session's connection.
    FinalReply AwaitFinalReply(uint32_t connection, std::string_view directory,
                               const FinalReplyWatch& watch);
    // Closes idle site connections older than their alias's timeout; how many.
    int ReapIdleConnections();
    // Closes whatever the session still holds.
    void EndSession(uint32_t connection, const std::string& user);
    std::vector<ConnectionInfo> ListConnections(PoolKind kind,
                                                std::optional<std::string_view> directory = {});

    // Shared users (SharedUsers.cpp). The address this server's outgoing connections leave from.
    std::string SourceIp() const;
    // Runs `talk` on a site connection of the alias and gives it back; a connection that broke
    // is dropped and `talk` tried once more on a fresh one.
    Talk WithSiteConnection(uint32_t connection, std::string_view directory,
                            const std::function<Talk(RemoteConnection&)>& talk);
    // Sends the user file at `path` to the passive address after the command that announced
    // it; the lines sent, 0 on failure.
    size_t SendUserFile(RemoteConnection& c, const PassiveAddress& to, const std::string& path);
    // "PROT E" when encrypted, then PASV; none when either fails.
    std::optional<PassiveAddress> OpenPassive(RemoteConnection& c);
    // The type D aliases with share users on, in table order.
    std::vector<AliasRecord> SharingAliases();
    // Per-alias lists of the users of other servers that came in through the alias.
    bool AddSharedUser(std::string_view directory, std::string_view name);
    bool IsSharedUser(std::string_view name) const;
    // The alias whose shared user list holds `name`.
    std::optional<AliasRecord> HomeAliasOf(std::string_view name) const;
    // The list of this server's users logged in elsewhere (lock B).
    bool HasSharedConnection(std::string_view base, std::string_view address, uint32_t port) const;
    void AddSharedConnection(SharedConnection c);
    bool RemoveSharedConnection(std::string_view base, std::string_view address, uint32_t port);
    std::vector<SharedConnection> ListSharedConnections() const;
    // "SITE REMOTE SHAREDLOGIN" (or SHAREDQUIT) for `name` on the alias; whether it was taken.
    bool SendSharedLogin(uint32_t connection, std::string_view directory, const std::string& name);
    bool SendSharedQuit(uint32_t connection, std::string_view directory, const std::string& name);
    // Hands a saved user record to the servers that share it (SharedPropagation.cpp).
    void PropagateUser(uint32_t connection, const std::string& name);

    // Identifies this process in forwarding chains, so that a chain coming back is seen.
    const std::string& InstanceToken() const { return token_; }

  private:
    std::string FilePath() const;
    AliasEntry* FindLocked(std::string_view directory);
    const AliasEntry* FindLocked(std::string_view directory) const;
    bool RewriteLocked();
    void RestampLocked(const std::string& path);
    // Closes both pools; the shared users it had are appended to `kicked`.
    static void CloseEntry(AliasEntry& entry, std::vector<std::string>* kicked);
    void KickSharedUsers(const std::vector<std::string>& users);
    // Type D: the session's own connection (shared users).
    RemoteConnectionPtr AcquireUserConnection(uint32_t connection, std::string_view directory,
                                              std::string& message, int seconds);
    bool Prepare(RemoteConnection& c, std::string_view line, const ForwardOptions& options);

    // The user's file, logged in as its shared name on the alias's server.
    RemoteConnectionPtr LoginSharedUser(uint32_t connection, const AliasRecord& alias,
                                        const std::string& user, int seconds);
    bool SendSharedMessage(uint32_t connection, std::string_view directory, const char* verb,
                           const std::string& name);
    // UPDATE of `base` on a site connection of the alias, with its file when asked for.
    Talk SendUpdate(uint32_t connection, std::string_view directory, const std::string& line,
                    const std::string& path);

    ServerSite& site_;
    mutable Lock lock_;
    std::optional<FileStamp> stamp_;
    KeyedList<AliasEntry> aliases_{"Aliases List Header"};
    const std::string token_;
    mutable Lock sharedLock_;  // lock B: only the shared connections
    KeyedList<SharedConnection> shared_{"Shared Connections List"};
};

}  // namespace orvex
