// The messages other servers send about shared users: LOGIN (let my user in), UPDATE (its
// account changed), SHAREDLOGIN and SHAREDQUIT (your user came and went here), and the list of
// our users logged in elsewhere.

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasSession.h"
#include "server/remote/RemoteCommands.h"
#include "server/remote/SharedNames.h"

namespace orvex {

namespace {

std::atomic<unsigned> receivedCounter{0};

// Beside the user files, under a name no loader takes for a user and the stale-file sweep
// recognises.
std::string TemporaryName() {
    return StringUtil::Format(".received.%d.%u", static_cast<int>(::getpid()), receivedCounter++);
}

LocalHome LocalHomeOf(ServerSite& site) {
    return LocalHome{site.Config().GetSiteIp(), site.Config().GetServerPort()};
}

// The checks shared by LOGIN and UPDATE: user, timestamp, home address, port, answered with
// the first code of `codes` and the three after it.
struct Request {
    std::string base;
    int64_t timestamp = 0;
    std::string home;
    uint32_t port = 0;
};

std::optional<Request> ReadRequest(AliasSession& s, const Args& args, int firstCode,
                                   bool localAllowed) {
    auto refuse = [&](const char* fmt, const std::string& value, int offset) {
        s.Respond(args, StringUtil::Format(fmt, value.c_str()), std::to_string(firstCode + offset));
        return std::nullopt;
    };
    Request r;
    r.base = args[3];
    if (!IsValidLocalName(r.base)) return refuse("%s: Invalid username.", args[3], 0);
    const std::optional<int64_t> ts = ReadTimestamp(args[4]);
    if (!ts) return refuse("%s: Invalid timestamp.", args[4], 1);
    r.timestamp = *ts;
    r.home = args[5];
    if (localAllowed && StringUtil::EqualNoCase(r.home, "LOCAL"))
        r.home = "LOCAL";
    else if (!IsIpAddress(r.home) || !SocketUtil::SameAddress(r.home, s.PeerIp()))
        // A peer speaks only for the users whose home it is: otherwise any account with the
        // remote flag could make up users of any server, and log in as them here.
        return refuse("%s: Invalid home IP.", args[5], 2);
    const std::optional<uint32_t> port = ReadPort(args[6]);
    if (!port) return refuse("%s: Invalid home port.", args[6], 3);
    r.port = *port;
    return r;
}

// A received user file as this server keeps it: rewritten when the peer may not decide its
// administering flags (see KeepAuthorityHere). False when it cannot be rewritten.
bool KeepReceivedAuthority(ServerSite& site, const std::string& path, const std::string& fileName,
                           UserRecord& rec) {
    if (site.Config().GetTrustPeerAdminFlags()) return true;
    const std::optional<UserRecord> here =
        IsSharedName(fileName) ? std::nullopt : site.Users().FindUser(fileName);
    return !KeepAuthorityHere(rec, here ? &*here : nullptr) || WriteUserFile(path, rec);
}

// Receives `fileName` into the users folder: the data lands in a temporary file, which takes
// the user file's place only when all of it came and it reads as a user file.
bool ReceiveUserFile(AliasSession& s, const std::string& fileName, int64_t timestamp, bool shared) {
    ServerSite& site = s.Server();
    const std::string folder = site.MakeDataPath("users/");
    const std::string target = folder + fileName;
    const LocalHome local = LocalHomeOf(site);
    return s.StartFileReceive(
        folder, TemporaryName(), 0,
        [&site, target, fileName, timestamp, shared, local](const std::string& path,
                                                            bool complete) {
            UserRecord rec;
            const bool valid = complete &&
                               ReadUserFile(path, fileName, local, rec,
                                            [&site](const std::string& l) {
                                                site.LogProgram("MAIN", "%s", l.c_str());
                                            }) &&
                               KeepReceivedAuthority(site, path, fileName, rec);
            if (!valid || std::rename(FileUtil::OsPath(path).c_str(),
                                      FileUtil::OsPath(target).c_str()) != 0) {
                FileUtil::RemoveFile(path);
                return false;
            }
            if (timestamp != 0) FileUtil::SetTimes(target, timestamp, timestamp);
            if (shared) AdoptSharedGroup(site, fileName);
            return true;
        });
}

}  // namespace

void AdoptSharedGroup(ServerSite& site, const std::string& name) {
    const std::optional<UserRecord> rec = site.Users().FindUser(name);
    if (!rec || rec->group.empty() || !IsValidLocalName(rec->group)) return;
    if (!site.Groups().FindGroup(rec->group))
        site.Groups().AddGroup(rec->group, "Added from " + name);
    const int32_t gid = site.Groups().GroupIdOf(rec->group);
    if (gid >= 0) site.Accounts().SetRemoteGroup(name, gid);
}

namespace remote {

int Login(AliasSession& s, const Args& args) {
    const std::optional<Request> r = ReadRequest(s, args, 501, false);
    if (!r) return 0;
    ServerSite& site = s.Server();
    const std::optional<std::string> password = MakeTemporaryPassword();
    if (!password) {
        s.Respond(args, "ERROR: unable to create a new transfer thread.", "500");
        return 0;
    }
    const std::string name = MakeSharedName(r->base, r->home, r->port);
    if (!IsValidSharedName(name)) {
        s.Respond(args, StringUtil::Format("%s: Invalid username.", args[3].c_str()), "501");
        return 0;
    }
    const std::optional<UserRecord> rec = site.Users().FindUser(name);
    const bool stored = site.Accounts().AddRemoteLogin(
        name, StoredPassword(r->base, *password), Clock::NowSeconds() + kTemporaryPasswordSeconds,
        s.SiteRoot());
    if (rec && stored && rec->fileStamp.sec == r->timestamp) {
        s.RespondWithSecret(
            args, StringUtil::Format("User '%s' is valid (%s).", name.c_str(), password->c_str()),
            *password, "200");
        return 1;
    }
    s.RespondWithSecret(args,
                        StringUtil::Format(rec ? "Information for user '%s' is defunct (%s)."
                                               : "No information found for user '%s' (%s).",
                                           name.c_str(), password->c_str()),
                        *password, rec ? "151" : "152");
    if (!stored || !ReceiveUserFile(s, name, r->timestamp, false)) {
        site.Accounts().ExpireRemoteLogin(name);
        s.Respond(args, "ERROR: unable to create a new transfer thread.", "500");
        return 0;
    }
    return 1;
}

int Update(AliasSession& s, const Args& args) {
    const std::optional<Request> r = ReadRequest(s, args, 501, true);
    if (!r) return 0;
    ServerSite& site = s.Server();
    const bool local = r->home == "LOCAL";
    std::string name = local ? r->base : MakeSharedName(r->base, r->home, r->port);
    if (local && !site.Aliases().HasSharedConnection(r->base, s.PeerIp(), r->port)) {
        s.Respond(
            args,
            StringUtil::Format("User '%s' is not logged in as a shared user.", r->base.c_str()),
            "505");
        return 0;
    }
    std::string stored;
    const std::optional<UserRecord> rec = site.Users().FindUser(name, &stored);
    if (!rec || (local && IsSharedName(stored))) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", name.c_str()), "506");
        return 0;
    }
    if (rec->fileStamp.sec == r->timestamp) {
        s.Respond(args, StringUtil::Format("User '%s' is up to date.", stored.c_str()), "200");
        return 1;
    }
    s.Respond(args, StringUtil::Format("Information for user '%s' is defunct.", stored.c_str()),
              "150");
    if (!ReceiveUserFile(s, stored, r->timestamp, !local)) {
        s.Respond(args, "ERROR: unable to create a new transfer thread.", "507");
        return 0;
    }
    return 1;
}

int SharedLogin(AliasSession& s, const Args& args) {
    ServerSite& site = s.Server();
    const std::string base = BaseUserName(args[3]);
    if (!IsValidLocalName(base) || (IsSharedName(args[3]) && !IsValidSharedName(args[3]))) {
        s.Respond(args, StringUtil::Format("%s: Invalid username.", args[3].c_str()), "501");
        return 0;
    }
    if (!IsIpAddress(args[4])) {
        s.Respond(args, StringUtil::Format("%s: Invalid home IP.", args[4].c_str()), "502");
        return 0;
    }
    const std::optional<uint32_t> port = ReadPort(args[5]);
    if (!port) {
        s.Respond(args, StringUtil::Format("%s: Invalid home port.", args[5].c_str()), "503");
        return 0;
    }
    if (!site.Users().HasUser(base)) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", base.c_str()), "504");
        return 0;
    }
    AliasStore& aliases = site.Aliases();
    if (aliases.HasSharedConnection(base, args[4], *port)) {
        s.Respond(args, "Login successful.", "200");
        return 1;
    }
    // The way back must work: an alias naming that server exactly, and a connection through it.
    std::optional<AliasRecord> back;
    for (AliasRecord& a : aliases.ListAliases())
        if (a.address == args[4] && a.port == *port) {
            back = std::move(a);
            break;
        }
    const bool reached = back && aliases.WithSiteConnection(
                                     s.ConnectionNumber(), back->directory,
                                     [](RemoteConnection&) { return Talk::Done; }) == Talk::Done;
    if (!reached) {
        s.Respond(args,
                  StringUtil::Format(
                      "Unable to connect to alias for %s:%u (alias entry must have identical IP).",
                      args[4].c_str(), *port),
                  "505");
        return 0;
    }
    aliases.AddSharedConnection(SharedConnection{args[3], args[4], *port, back->directory});
    s.Respond(args, "Login successful.", "200");
    return 1;
}

int SharedQuit(AliasSession& s, const Args& args) {
    const std::optional<uint32_t> port = ReadPort(args[5]);
    const bool removed =
        port && s.Server().Aliases().RemoveSharedConnection(BaseUserName(args[3]), args[4], *port);
    s.Respond(args, removed ? "Quit successful." : "Quit failed.", removed ? "200" : "501");
    return removed ? 1 : 0;
}

int SharedConnections(AliasSession& s, const Args& args) {
    const char* rule =
        " |--------------+-------------------------------+-----------------+-------|";
    s.Line(" .------------------------------------------------------------------------.");
    s.Line(" | User           Alias                           ServerIP          Port  |");
    s.Line(rule);
    unsigned total = 0;
    for (const SharedConnection& c : s.Server().Aliases().ListSharedConnections()) {
        std::string shown;
        if (!s.SiteRelative(c.alias, shown)) continue;
        s.Line(StringUtil::Format(" | %-12s | %-29s | %-15s | %-5u |", BaseUserName(c.user).c_str(),
                                  ("/" + shown).c_str(), c.address.c_str(), c.port));
        ++total;
    }
    s.Line(rule);
    s.Line(StringUtil::Format(
        " | %4u Total connections.                                                |", total));
    s.Line(" `------------------------------------------------------------------------'");
    s.Respond(args, "Command successful.", "200");
    return 1;
}

}  // namespace remote
}  // namespace orvex
