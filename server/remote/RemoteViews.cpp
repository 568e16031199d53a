// SITE REMOTE ALIAS, ALIASES, MIRRORS and CONNECTIONS: the boxes that show the alias and mirror
// tables and the pools.

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasSession.h"
#include "server/remote/MirrorStore.h"
#include "server/remote/RemoteCommands.h"

namespace orvex::remote {

namespace {

constexpr size_t kAliasShownMax = 254;
constexpr size_t kMirrorShownMax = 48;
constexpr const char* kTop =
    " .------------------------------------------------------------------------.";
constexpr const char* kBottom =
    " `------------------------------------------------------------------------'";

int Done(AliasSession& s, const Args& args) {
    s.Respond(args, "Command successful.", "200");
    return 1;
}

void Fmt(AliasSession& s, const char* fmt, auto... values) {
    s.Line(StringUtil::Format(fmt, values...));
}

}  // namespace

int Alias(AliasSession& s, const Args& args) {
    const std::string typed = Join(args, 0, 3);
    const std::string dir = s.ResolveDirectory(typed);
    const std::string missing = StringUtil::Format("Alias '%s' does not exist.", typed.c_str());
    std::string shown;
    if (!s.SiteRelative(dir, shown)) {
        s.Respond(args, missing, "501");
        return 0;
    }
    const std::optional<AliasRecord> r = s.Server().Aliases().GetAlias(dir);
    if (!r) {
        s.Respond(args, missing, "502");
        return 0;
    }
    const char* rule = " =========================================================================";
    const std::string alias = ("/" + shown).substr(0, kAliasShownMax);
    const long mode = static_cast<long>(r->encMode);
    const char* encryption = mode == 0  ? "  Encryption Mode: %ld (Clear)"
                             : mode > 2 ? "  Encryption Mode: %ld (AUTH SSL -> SSLv3)"
                                        : "  Encryption Mode: %ld (AUTH SSL -> SSLv2)";
    s.Line(rule);
    Fmt(s, "  Alias: %s", alias.c_str());
    Fmt(s, "  Address/Port: %s:%u", r->address.c_str(), r->port);
    Fmt(s, "  Remote Path: %s", r->remotePath.c_str());
    Fmt(s, "  User: %-30s Max Logins: %u %s", r->user.c_str(), r->maxLogins,
        r->maxLogins == 0 ? "(Unlimited)" : "");
    Fmt(s, "  Server Type: %-23s Share Users: %s",
        r->serverType == 'D' ? "D (ORVEX)" : "G (Generic)", r->shareUsers ? "Yes" : "No");
    Fmt(s, encryption, mode);
    Fmt(s, "  Timeout: %-4ld %s", static_cast<long>(r->timeout),
        r->timeout == 0 ? "(Unlimited)" : "sec");
    s.Line(rule);
    return Done(s, args);
}

int Aliases(AliasSession& s, const Args& args) {
    const char* rule =
        " |---+----------------------+-----------------------+---------------------|";
    s.Line(kTop);
    s.Line(" | T   Alias                  Address:Port            RemotePath          |");
    s.Line(rule);
    unsigned total = 0;
    for (const AliasRecord& r : s.Server().Aliases().ListAliases()) {
        std::string shown;
        if (!s.SiteRelative(r.directory, shown)) continue;
        const std::string where =
            StringUtil::Format("%s:%u", r.address.substr(0, 15).c_str(), r.port).substr(0, 21);
        Fmt(s, " | %c | %-20s | %-21s | %-19s |", r.serverType, ("/" + shown).c_str(),
            where.c_str(), r.remotePath.substr(0, 19).c_str());
        ++total;
    }
    s.Line(rule);
    Fmt(s, " | %u Total aliases.                                                       |", total);
    s.Line(kBottom);
    return Done(s, args);
}

int Mirrors(AliasSession& s, const Args& args) {
    const char* rule =
        " |------+-------------------------------------------------+---------------|";
    s.Line(kTop);
    s.Line(" | MID    Alias                                             Weight        |");
    s.Line(rule);
    unsigned groups = 0;
    for (const MirrorGroup& g : s.Server().Mirrors().ListMirrors()) {
        uint64_t sum = 0;
        for (const MirrorEntry& e : g.entries) sum += e.weight;
        bool shownAny = false;
        for (const MirrorEntry& e : g.entries) {
            std::string where = "LOCAL";
            if (!MirrorFile::IsLocal(e.alias)) {
                std::string shown;
                if (!s.SiteRelative(e.alias, shown)) continue;
                where = ("/" + shown).substr(0, kMirrorShownMax);
            }
            if (!shownAny && groups > 0) s.Line(rule);
            shownAny = true;
            const double share = sum == 0 ? 0.0 : 100.0 * e.weight / static_cast<double>(sum);
            Fmt(s, " | %3u%c | %-47s | %-4u (%5.1f%%) |", static_cast<unsigned>(g.mirrorId),
                e.defaultMirror ? '*' : ' ', where.c_str(), e.weight, share);
        }
        if (shownAny) ++groups;
    }
    s.Line(rule);
    Fmt(s, " | %u Total mirror entries (* -> default mirror).                          |", groups);
    s.Line(kBottom);
    return Done(s, args);
}

int Connections(AliasSession& s, const Args& args) {
    AliasStore& store = s.Server().Aliases();
    std::optional<std::string> only;
    if (args.size() > 3) {
        const std::string typed = Join(args, 0, 3);
        only = s.ResolveDirectory(typed);
        if (!store.GetAlias(*only)) {
            s.Respond(args, StringUtil::Format("Alias '%s' does not exist.", typed.c_str()), "501");
            return 0;
        }
    }
    const char* rule =
        " |-------+---------------+----------------------------+---------+---------|";
    s.Line(kTop);
    s.Line(" | SDsc    PiD/User        Alias                        Connect    Idle   |");
    s.Line(rule);
    const int64_t now = Clock::NowSeconds();
    unsigned total = 0;
    for (PoolKind kind : {PoolKind::Site, PoolKind::User}) {
        std::vector<ConnectionInfo> list =
            only ? store.ListConnections(kind, std::string_view(*only))
                 : store.ListConnections(kind);
        for (const ConnectionInfo& c : list) {
            std::string shown;
            if (!s.SiteRelative(c.alias, shown)) continue;
            std::optional<std::string> user;
            if (c.holder != kIdleConnection)
                user = s.Server().Registry().UserName(static_cast<uint32_t>(c.holder));
            Fmt(s, " | %4d%c | %3d/%-9s | /%-25s | %-7s | %-7s |", c.socket,
                c.encrypted ? 'S' : 'C', c.holder, user ? user->c_str() : "-", shown.c_str(),
                SiteSession::FormatDuration(c.loginTime, now).c_str(),
                SiteSession::FormatDuration(c.lastUse, now).c_str());
            ++total;
        }
    }
    s.Line(rule);
    Fmt(s, " | %4u Total connections.                                                |", total);
    s.Line(kBottom);
    return Done(s, args);
}

}  // namespace orvex::remote
