// Users shared between servers of this kind: a session entering a type D alias logs in on the
// other server as "user$home$port" with its own account, which this server hands over first;
// the lists of who came in through which alias, and of which of our users are elsewhere.

#include <unistd.h>

#include "engine/Clock.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasStore.h"
#include "server/remote/SharedNames.h"

namespace orvex {

namespace {

constexpr int kDataConnectSeconds = 5;
constexpr unsigned kDataHandshakeMs = 5000;
constexpr size_t kUserFileLineMax = 264;

int32_t Id(uint32_t connection) {
    return static_cast<int32_t>(connection);
}

// What a reply to a message says about the connection: a reply at all, or a broken one.
Talk Answered(const RemoteReply& r, bool taken) {
    if (!r.Complete()) return Talk::Broken;
    return taken ? Talk::Done : Talk::Refused;
}

}  // namespace

std::string AliasStore::SourceIp() const {
    // A guessed address would make every peer see this server from an unexpected place.
    return site_.Config().GetGivenSiteIp();
}

Talk AliasStore::WithSiteConnection(uint32_t connection, std::string_view directory,
                                    const std::function<Talk(RemoteConnection&)>& talk) {
    Talk result = Talk::Broken;
    for (int attempt = 0; attempt < 2 && result == Talk::Broken; ++attempt) {
        std::string message;
        RemoteConnectionPtr c =
            AcquireSiteConnection(connection, directory, message, kForwardSeconds);
        if (!c) return Talk::Broken;
        result = talk(*c);
        if (result == Talk::Broken)
            DropConnection(directory, c->Socket());
        else
            ReleaseConnection(connection, directory, true);
    }
    return result;
}

std::optional<PassiveAddress> AliasStore::OpenPassive(RemoteConnection& c) {
    if (c.Encrypted() && !c.Exchange("PROT E", kForwardSeconds).Begins('2')) return std::nullopt;
    const RemoteReply r = c.Exchange("PASV", kForwardSeconds);
    if (!r.Begins('2') || r.lines.empty()) return std::nullopt;
    std::optional<PassiveAddress> to = ParsePassiveReply(r.lines.front());
    // User files go to the peer itself: a reply naming another address would have this server
    // hand an account to whatever listens there.
    std::string peer, peerPort;
    if (to && !(SocketUtil::PeerAddress(c.Socket(), peer, peerPort) &&
                SocketUtil::SameAddress(to->ip, peer)))
        return std::nullopt;
    return to;
}

size_t AliasStore::SendUserFile(RemoteConnection& c, const PassiveAddress& to,
                                const std::string& path) {
    const std::optional<std::string> text = ReadWholeFile(path);
    int fd =
        SocketUtil::ConnectHost(to.ip, std::to_string(to.port), kDataConnectSeconds, SourceIp());
    if (fd < 0) return 0;
    size_t lines = 0;
    SslHandle tls;
    bool ok = c.Read(kForwardSeconds).Begins('1');
    if (ok && c.Encrypted()) {
        SocketUtil::SetRecvTimeout(fd, kDataHandshakeMs);
        int reason = 0;
        ok = SslLayer::Connect(fd, reason, 2, tls, &c.Tls());
        SocketUtil::SetRecvTimeout(fd, 0);
    }
    if (ok && text) {
        for (std::string_view rest = *text; !rest.empty() && ok;) {
            size_t len = rest.find('\n');
            len = len == std::string_view::npos ? rest.size() : len + 1;
            len = std::min(len, kUserFileLineMax - 1);
            const std::string_view line = rest.substr(0, len);
            rest.remove_prefix(len);
            const long sent = tls.Open() ? SslLayer::Write(tls, line.data(), line.size())
                                         : SocketUtil::SendAll(fd, line.data(), line.size());
            ok = sent == static_cast<long>(line.size());
            if (ok) ++lines;
        }
    }
    if (tls.Open()) SslLayer::Close(tls);
    SocketUtil::Close(fd);
    // The final reply ends the exchange, whatever it says.
    c.Read(kForwardSeconds);
    return ok ? lines : 0;
}

std::vector<AliasRecord> AliasStore::SharingAliases() {
    std::vector<AliasRecord> out;
    for (AliasRecord& r : ListAliases())
        if (r.serverType == 'D' && r.shareUsers) out.push_back(std::move(r));
    return out;
}

bool AliasStore::AddSharedUser(std::string_view directory, std::string_view name) {
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    if (!e) return false;
    for (const auto& node : e->sharedUsers)
        if (StringUtil::EqualNoCase(node.data, name)) return true;
    e->sharedUsers.Create(static_cast<int32_t>(e->sharedUsers.MaxId()) + 1, "Shared user",
                          std::string(name));
    return true;
}

bool AliasStore::IsSharedUser(std::string_view name) const {
    return HomeAliasOf(name).has_value();
}

std::optional<AliasRecord> AliasStore::HomeAliasOf(std::string_view name) const {
    LockGuard g(lock_);
    for (const auto& alias : aliases_)
        for (const auto& node : alias.data.sharedUsers)
            if (StringUtil::EqualNoCase(node.data, name)) return alias.data.record;
    return std::nullopt;
}

bool AliasStore::HasSharedConnection(std::string_view base, std::string_view address,
                                     uint32_t port) const {
    LockGuard g(sharedLock_);
    for (const auto& node : shared_)
        if (StringUtil::EqualNoCase(node.name.value_or(""), base) && node.data.address == address &&
            node.data.port == port)
            return true;
    return false;
}

void AliasStore::AddSharedConnection(SharedConnection c) {
    LockGuard g(sharedLock_);
    std::string base = BaseUserName(c.user);
    shared_.Create(static_cast<int32_t>(shared_.MaxId()) + 1, std::move(base), std::move(c));
}

bool AliasStore::RemoveSharedConnection(std::string_view base, std::string_view address,
                                        uint32_t port) {
    LockGuard g(sharedLock_);
    for (auto it = shared_.begin(); it != shared_.end(); ++it)
        if (StringUtil::EqualNoCase(it->name.value_or(""), base) && it->data.address == address &&
            it->data.port == port) {
            shared_.Erase(it);
            return true;
        }
    return false;
}

std::vector<SharedConnection> AliasStore::ListSharedConnections() const {
    LockGuard g(sharedLock_);
    std::vector<SharedConnection> out;
    for (const auto& node : shared_) out.push_back(node.data);
    return out;
}

bool AliasStore::SendSharedLogin(uint32_t connection, std::string_view directory,
                                 const std::string& name) {
    return SendSharedMessage(connection, directory, "SHAREDLOGIN", name);
}

bool AliasStore::SendSharedQuit(uint32_t connection, std::string_view directory,
                                const std::string& name) {
    return SendSharedMessage(connection, directory, "SHAREDQUIT", name);
}

bool AliasStore::SendSharedMessage(uint32_t connection, std::string_view directory,
                                   const char* verb, const std::string& name) {
    const std::string line = StringUtil::Format(
        "SITE REMOTE %s %s %s %u", verb, name.c_str(), site_.Config().GetSiteIp().c_str(),
        static_cast<unsigned>(site_.Config().GetServerPort()));
    return WithSiteConnection(connection, directory, [&](RemoteConnection& c) {
               const RemoteReply r = c.Exchange(line, kForwardSeconds);
               return Answered(r, r.Begins('2'));
           }) == Talk::Done;
}

RemoteConnectionPtr AliasStore::AcquireUserConnection(uint32_t connection,
                                                      std::string_view directory,
                                                      std::string& message, int seconds) {
    message = "Unable to access directory";
    AliasRecord alias;
    {
        LockGuard g(lock_);
        AliasEntry* e = FindLocked(directory);
        if (!e) {
            message = "Invalid directory access.";
            return nullptr;
        }
        for (auto& node : e->userPool)
            if (node.id == Id(connection) && node.data) {
                node.data->lastUse = Clock::NowSeconds();
                return node.data;
            }
        alias = e->record;
    }
    const std::optional<std::string> user = site_.Registry().UserName(connection);
    if (!user) return nullptr;
    RemoteConnectionPtr c = LoginSharedUser(connection, alias, *user, seconds);
    if (!c) return nullptr;
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    if (!e || e->record != alias) {
        c->Kill();
        return nullptr;
    }
    c->lastHolder = Id(connection);
    e->userPool.Create(Id(connection), "User Connection", c);
    return c;
}

RemoteConnectionPtr AliasStore::LoginSharedUser(uint32_t connection, const AliasRecord& alias,
                                                const std::string& user, int seconds) {
    std::string stored;
    const std::optional<UserRecord> rec = site_.Users().FindUser(user, &stored);
    if (!rec) return nullptr;
    const std::string base = BaseUserName(stored);
    const std::string path = site_.MakeDataPath("users/", stored);
    const std::string line = StringUtil::Format(
        "SITE REMOTE LOGIN %s %lld %s %u", base.c_str(), static_cast<long long>(rec->fileStamp.sec),
        rec->homeServer.c_str(), static_cast<unsigned>(rec->homePort));
    std::string password;
    unsigned encMode = 0;
    const Talk t = WithSiteConnection(connection, alias.directory, [&](RemoteConnection& c) {
        const std::optional<PassiveAddress> pasv = OpenPassive(c);
        if (!pasv) return Talk::Broken;
        const RemoteReply r = c.Exchange(line, kForwardSeconds);
        if (!r.Complete()) return Talk::Broken;
        if (!r.Begins('1') && !r.Begins('2')) return Talk::Refused;
        password = ParenthesizedText(r.lines.front(), kTemporaryPasswordLength).value_or("");
        encMode = c.EncMode();
        // A transfer that failed leaves replies behind: the connection is out of step.
        if (r.Begins('1') && SendUserFile(c, *pasv, path) == 0) return Talk::Broken;
        return Talk::Done;
    });
    if (t != Talk::Done) return nullptr;
    RemoteConnectionPtr c = LoginRemote(alias.address, alias.port,
                                        MakeSharedName(stored, rec->homeServer, rec->homePort),
                                        password, encMode, seconds, SourceIp());
    site_.Stats().CountRemoteConnection(!c);
    return c;
}

}  // namespace orvex
