// The connection pools of the aliases: lending connections to sessions, forwarding one command,
// waiting for the end of a transfer, and closing what is idle or left behind.

#include <poll.h>

#include <cerrno>

#include "engine/Clock.h"
#include "engine/RunState.h"
#include "engine/StringUtil.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasStore.h"

namespace orvex {

namespace {

constexpr const char* kInvalidAccess = "Invalid directory access.";
constexpr const char* kUnableToAccess = "Unable to access directory";
constexpr int kWaitStepMs = 1000;
constexpr short kHangUp = POLLRDHUP | POLLHUP | POLLERR;

using Pool = KeyedList<RemoteConnectionPtr>;

Pool& PoolOf(AliasEntry& e, bool sitePool) {
    return sitePool || e.record.serverType != 'D' ? e.sitePool : e.userPool;
}

std::string Verb(std::string_view line) {
    const size_t end = line.find(' ');
    return StringUtil::Uppered(line.substr(0, end));
}

std::string FirstArgument(std::string_view line) {
    const size_t sep = line.find(' ');
    if (sep == std::string_view::npos) return {};
    const std::string_view rest = line.substr(sep + 1);
    return std::string(rest.substr(0, rest.find(' ')));
}

// What a taken TYPE or MODE left on the connection.
void NoteState(RemoteState& state, std::string_view line) {
    const std::string verb = Verb(line);
    const std::string arg = StringUtil::Uppered(FirstArgument(line));
    if (arg.empty()) return;
    if (verb == "TYPE") state.type = arg[0] == 'L' ? 'I' : arg[0];
    if (verb == "MODE") state.mode = arg[0];
}

int32_t Id(uint32_t connection) {
    return static_cast<int32_t>(connection);
}

bool LeavesStatePending(std::string_view line) {
    const std::string verb = Verb(line);
    return verb == "PASV" || verb == "PORT" || verb == "REST" || verb == "RNFR";
}

}  // namespace

RemoteConnectionPtr AliasStore::AcquireSiteConnection(uint32_t connection,
                                                      std::string_view directory,
                                                      std::string& message, int seconds) {
    message = kInvalidAccess;
    AliasRecord record;
    {
        LockGuard g(lock_);
        AliasEntry* e = FindLocked(directory);
        if (!e) return nullptr;
        Pool& pool = e->sitePool;
        for (const auto& node : pool)
            if (node.id == Id(connection)) {
                message = "Control connection busy.";
                return nullptr;
            }
        // The oldest idle connection, or the one this session had last, whose remote state
        // is still its own. One that said or closed something while idle is out of step.
        Pool::Node* pick = nullptr;
        for (auto it = pool.begin(); it != pool.end();) {
            RemoteConnectionPtr& c = it->data;
            if (it->id != kIdleConnection || !c) {
                ++it;
                continue;
            }
            if (c->Dead() || c->HasUnreadInput()) {
                c->Kill();
                it = pool.Erase(it);
                continue;
            }
            if (!pick ||
                (c->lastHolder == Id(connection) && pick->data->lastHolder != Id(connection)))
                pick = &*it;
            ++it;
        }
        if (pick) {
            pick = pool.Rekey(pick, Id(connection), pick->name);
            pick->data->lastUse = Clock::NowSeconds();
            pick->data->lastHolder = Id(connection);
            return pick->data;
        }
        record = e->record;
        if (record.maxLogins != 0 && pool.Count() >= record.maxLogins) {
            message = "Directory is currently busy";
            return nullptr;
        }
        // Holds the place while logging in, so that concurrent logins keep to the limit.
        pool.Create(Id(connection), "Site Connection", nullptr);
    }
    const std::string password =
        AliasFile::DecryptPassword(record.user, record.password).value_or(std::string());
    RemoteConnectionPtr c = LoginRemote(record.address, record.port, record.user, password,
                                        record.encMode, seconds, SourceIp());
    site_.Stats().CountRemoteConnection(!c);
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    Pool::Node* place = nullptr;
    if (e)
        for (auto& node : e->sitePool)
            if (node.id == Id(connection) && !node.data) place = &node;
    // The alias went or changed meanwhile: the new connection belongs to nobody.
    if (!place || e->record != record || !c) {
        if (place) e->sitePool.Release(place);
        if (c) c->Kill();
        message = kUnableToAccess;
        return nullptr;
    }
    c->lastHolder = Id(connection);
    place->data = c;
    return c;
}

RemoteConnectionPtr AliasStore::AcquireConnection(uint32_t connection, std::string_view directory,
                                                  std::string& message, int seconds) {
    char type;
    {
        LockGuard g(lock_);
        const AliasEntry* e = FindLocked(directory);
        if (!e) {
            message = kInvalidAccess;
            return nullptr;
        }
        type = e->record.serverType;
    }
    if (type == 'D') return AcquireUserConnection(connection, directory, message, seconds);
    return AcquireSiteConnection(connection, directory, message, seconds);
}

RemoteConnectionPtr AliasStore::FindHeldConnection(uint32_t connection,
                                                   std::string_view directory) {
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    if (!e) return nullptr;
    for (auto& node : PoolOf(*e, false))
        if (node.id == Id(connection) && node.data) {
            node.data->lastUse = Clock::NowSeconds();
            return node.data;
        }
    return nullptr;
}

namespace {

// Back to idle, or closed when the connection is dead or still carries a session's state.
// False when it was closed.
bool GiveBack(Pool& pool, Pool::iterator& it) {
    if (it->data->Dead() || it->data->pending) {
        it->data->Kill();
        it = pool.Erase(it);
        return false;
    }
    it->data->lastUse = Clock::NowSeconds();
    const Pool::iterator next = std::next(it);
    pool.Rekey(&*it, kIdleConnection, it->name);
    it = next;
    return true;
}

}  // namespace

void AliasStore::ReleaseConnection(uint32_t connection, std::string_view directory, bool sitePool) {
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    if (!e) return;
    Pool& pool = PoolOf(*e, sitePool);
    for (auto it = pool.begin(); it != pool.end(); ++it) {
        if (it->id != Id(connection) || !it->data) continue;
        // A user connection stays with its session.
        if (&pool == &e->sitePool) {
            GiveBack(pool, it);
        } else {
            it->data->lastUse = Clock::NowSeconds();
        }
        return;
    }
}

void AliasStore::ReleaseHeld(uint32_t connection, std::string_view keep) {
    LockGuard g(lock_);
    for (auto& alias : aliases_) {
        if (!keep.empty() && StringUtil::EqualNoCase(alias.data.record.directory, keep)) continue;
        Pool& pool = alias.data.sitePool;
        for (auto it = pool.begin(); it != pool.end();) {
            if (it->id == Id(connection) && it->data)
                GiveBack(pool, it);
            else
                ++it;
        }
    }
}

int AliasStore::DropConnection(std::string_view directory, int socket) {
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    if (!e) return 0;
    int dropped = 0;
    for (Pool* pool : {&e->sitePool, &e->userPool})
        for (auto it = pool->begin(); it != pool->end();) {
            if (it->data && it->data->Socket() == socket) {
                it->data->Kill();
                it = pool->Erase(it);
                ++dropped;
            } else {
                ++it;
            }
        }
    return dropped;
}

std::optional<std::string> AliasStore::AliasOfSocket(int socket) const {
    LockGuard g(lock_);
    for (const auto& alias : aliases_)
        for (const Pool* pool : {&alias.data.sitePool, &alias.data.userPool})
            for (const auto& node : *pool)
                if (node.data && node.data->Socket() == socket) return alias.data.record.directory;
    return std::nullopt;
}

bool AliasStore::Prepare(RemoteConnection& c, std::string_view line, const ForwardOptions& o) {
    if (!o.via.empty() && c.via != o.via) {
        // Servers of other kinds refuse this line; only its arrival matters.
        if (!c.Exchange("SITE REMOTE VIA " + o.via, o.seconds).Complete()) return false;
        c.via = o.via;
    }
    const std::string verb = Verb(line);
    if (!o.want || verb == "TYPE" || verb == "MODE") return true;
    if (c.state.type != o.want->type) {
        const std::string type(1, o.want->type);
        const RemoteReply r = c.Exchange("TYPE " + type, o.seconds);
        if (!r.Complete()) return false;
        if (r.Begins('2')) c.state.type = o.want->type;
    }
    if (c.state.mode != o.want->mode) {
        const std::string mode(1, o.want->mode);
        const RemoteReply r = c.Exchange("MODE " + mode, o.seconds);
        if (!r.Complete()) return false;
        if (r.Begins('2')) c.state.mode = o.want->mode;
    }
    return true;
}

RemoteReply AliasStore::ForwardCommand(uint32_t connection, std::string_view directory,
                                       std::string_view line, const ForwardOptions& o) {
    const bool urgent = Verb(line) == "ABOR";
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string message;
        RemoteConnectionPtr c = FindHeldConnection(connection, directory);
        const bool held = c != nullptr;
        if (!c) c = AcquireConnection(connection, directory, message, o.seconds);
        if (!c) return RemoteReply::One("451", message);
        // Urgent data would overtake a TLS record; the server reads ABOR in order there.
        if (!Prepare(*c, line, o) || !c->Send(line, urgent && !c->Encrypted())) {
            DropConnection(directory, c->Socket());
            continue;
        }
        RemoteReply r = c->Read(o.seconds);
        if (!r.Complete()) {
            // Closed before answering: the server never took the command, so a fresh
            // connection may. A late or half reply leaves it unknown: no second try.
            const bool closed = r.lines.empty() && !c->Dead() && c->WaitInput(0) != 0;
            DropConnection(directory, c->Socket());
            if (closed) continue;
            return {};
        }
        if (r.Begins('2')) NoteState(c->state, line);
        if (r.Taken() && LeavesStatePending(line)) c->pending = true;
        if (o.consume) c->pending = false;
        // A held connection stays with its session until the session lets it go.
        const bool keep = r.Begins('1') || (o.hold && r.Taken()) || (held && !o.consume);
        if (!keep) ReleaseConnection(connection, directory, false);
        return r;
    }
    return {};
}

FinalReply AliasStore::AwaitFinalReply(uint32_t connection, std::string_view directory,
                                       const FinalReplyWatch& watch) {
    FinalReply out;
    RemoteConnectionPtr c = FindHeldConnection(connection, directory);
    if (!c) {
        out.reply = RemoteReply::One("451", "Unable to get descriptor for connection");
        return out;
    }
    auto drop = [&] { DropConnection(directory, c->Socket()); };
    bool watchInput = true;
    bool aborSent = false;
    for (;;) {
        int ready = c->WaitInput(0);
        if (ready < 0) {
            drop();
            return out;
        }
        if (ready > 0) break;
        pollfd fds[2] = {
            {c->Socket(), POLLIN, 0},
            {watch.clientFd, static_cast<short>(watchInput ? POLLIN | POLLRDHUP : POLLRDHUP), 0}};
        const int n = poll(fds, watch.clientFd >= 0 ? 2 : 1, kWaitStepMs);
        if (n < 0 && errno != EINTR) {
            drop();
            return out;
        }
        if (n > 0 && fds[0].revents) continue;
        if (n > 0 && fds[1].revents) {
            const ClientInput in = (fds[1].revents & kHangUp) || !watch.clientInput
                                       ? ClientInput::HangUp
                                       : watch.clientInput();
            if (in == ClientInput::HangUp) {
                // Nobody is left to tell; the remote server ends its side when we go.
                drop();
                return out;
            }
            if (in == ClientInput::Abort && !aborSent) {
                aborSent = c->Send("ABOR", !c->Encrypted());
            } else if (in == ClientInput::Other) {
                // Kept for after the transfer; from now on only a hang-up is watched.
                watchInput = false;
            }
            continue;
        }
        if ((watch.abort && *watch.abort) || Run().stopRequested) {
            // The final reply is still to come: such a connection is out of step for good.
            drop();
            out.reply = RemoteReply::One("426", "Transfer aborted.");
            return out;
        }
    }
    out.reply = c->Read(kForwardSeconds);
    if (!out.reply.Complete()) {
        drop();
        return out;
    }
    if (aborSent) {
        RemoteReply second = c->Read(kForwardSeconds);
        if (!second.Complete()) {
            drop();
            return out;
        }
        out.aborReply = std::move(second);
    }
    // The transfer used what PASV, PORT and REST had set.
    c->pending = false;
    ReleaseConnection(connection, directory, false);
    return out;
}

int AliasStore::ReapIdleConnections() {
    LockGuard g(lock_);
    const int64_t now = Clock::NowSeconds();
    int closed = 0;
    for (auto& alias : aliases_) {
        const uint32_t timeout = alias.data.record.timeout;
        Pool& pool = alias.data.sitePool;
        for (auto it = pool.begin(); it != pool.end();) {
            const RemoteConnectionPtr& c = it->data;
            const bool expired = c && it->id == kIdleConnection &&
                                 (c->Dead() || (timeout > 0 && now - c->lastUse >= timeout));
            if (!expired) {
                ++it;
                continue;
            }
            c->Kill();
            it = pool.Erase(it);
            ++closed;
        }
    }
    return closed;
}

void AliasStore::EndSession(uint32_t connection, const std::string& user) {
    // Asked before lock A: the registry's lock is never taken inside it.
    const bool last = !user.empty() && site_.Registry().CountLogins(user) <= 1;
    std::vector<std::string> left;
    {
        LockGuard g(lock_);
        for (auto& alias : aliases_) {
            for (Pool* pool : {&alias.data.sitePool, &alias.data.userPool})
                for (auto it = pool->begin(); it != pool->end();) {
                    if (it->id != Id(connection) || !it->data) {
                        ++it;
                        continue;
                    }
                    it->data->Kill();
                    it = pool->Erase(it);
                }
            if (!last) continue;
            auto& shared = alias.data.sharedUsers;
            for (auto it = shared.begin(); it != shared.end();) {
                if (!StringUtil::EqualNoCase(it->data, user)) {
                    ++it;
                    continue;
                }
                it = shared.Erase(it);
                left.push_back(alias.data.record.directory);
            }
        }
    }
    // The home servers hear of it after lock A is let go: a slow one stalls only this session.
    for (const std::string& directory : left) SendSharedQuit(connection, directory, user);
}

std::vector<ConnectionInfo> AliasStore::ListConnections(PoolKind kind,
                                                        std::optional<std::string_view> dir) {
    LockGuard g(lock_);
    std::vector<ConnectionInfo> out;
    for (const auto& alias : aliases_) {
        const AliasRecord& r = alias.data.record;
        if (dir && !StringUtil::EqualNoCase(r.directory, *dir)) continue;
        const Pool& pool = kind == PoolKind::Site ? alias.data.sitePool : alias.data.userPool;
        for (const auto& node : pool)
            if (node.data)
                out.push_back(ConnectionInfo{r.directory, node.data->Socket(),
                                             node.data->Encrypted(), node.id, node.data->loginTime,
                                             node.data->lastUse});
    }
    return out;
}

}  // namespace orvex
