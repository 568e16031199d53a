// Commands forwarded into an alias that act on the current directory or on one path, and PASV
// and PORT, which send the client's data connection straight to the remote server.

#include <cctype>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasSession.h"
#include "server/remote/MirrorStore.h"

namespace orvex {

namespace {

constexpr size_t kMaxRemoteCwd = 256;

// "%c" of the argument's first character as typed.
std::string WithFirstLetter(const char* verb, const Args& args) {
    if (args.size() < 2 || args[1].empty()) return verb;
    return std::string(verb) + ' ' + args[1][0];
}

}  // namespace

int AliasSession::OnCurrent(const Args& args, const std::string& line, const char* failure,
                            const Inherited& inherited, Hold hold) {
    const std::optional<AliasRecord> alias = CurrentAlias();
    if (!alias) return inherited(args);
    return RelayOr(args, alias->directory, ForwardToAlias(alias->directory, line, hold), failure);
}

int AliasSession::Abor(const Args& args) {
    return OnCurrent(args, "ABOR", "ERROR: unable to run ABOR command.",
                     [this](const Args& a) { return SiteSession::Abor(a); });
}

int AliasSession::Allo(const Args& args) {
    if (args.size() < 2) return SiteSession::Allo(args);
    return OnCurrent(args, "ALLO " + Join(args), "ERROR: unable to run ALLO command.",
                     [this](const Args& a) { return SiteSession::Allo(a); });
}

int AliasSession::Noop(const Args& args) {
    return OnCurrent(args, "NOOP", "ERROR: unable to run NOOP command.",
                     [this](const Args& a) { return SiteSession::Noop(a); });
}

int AliasSession::Pbsz(const Args& args) {
    if (args.size() < 2) return SiteSession::Pbsz(args);
    return OnCurrent(args, "PBSZ " + args[1], "ERROR: unable to run PBSZ command.",
                     [this](const Args& a) { return SiteSession::Pbsz(a); });
}

int AliasSession::Rest(const Args& args) {
    if (args.size() < 2) return SiteSession::Rest(args);
    // Clients resume between PASV and RETR: the offset goes where the download will.
    if (chosenMirror_)
        return RelayOr(args, *chosenMirror_,
                       ForwardToAlias(*chosenMirror_, "REST " + args[1], Hold::Keep),
                       "ERROR: unable to run REST command.");
    return OnCurrent(
        args, "REST " + args[1], "ERROR: unable to run REST command.",
        [this](const Args& a) { return SiteSession::Rest(a); }, Hold::Keep);
}

int AliasSession::Mode(const Args& args) {
    const std::optional<AliasRecord> alias = CurrentAlias();
    if (!alias) return SiteSession::Mode(args);
    const RemoteReply r = ForwardToAlias(alias->directory, WithFirstLetter("MODE", args));
    // Connections this session gets later are put in the same mode.
    if (r.Begins('2') && args.size() > 1 && !args[1].empty())
        remoteMode_ = static_cast<char>(std::toupper(static_cast<unsigned char>(args[1][0])));
    return RelayOr(args, alias->directory, r, "ERROR: unable to run MODE command.");
}

int AliasSession::Type(const Args& args) {
    const std::optional<AliasRecord> alias = CurrentAlias();
    if (!alias) return SiteSession::Type(args);
    const RemoteReply r = ForwardToAlias(alias->directory, WithFirstLetter("TYPE", args));
    const char wanted =
        args.size() > 1 && !args[1].empty()
            ? static_cast<char>(std::toupper(static_cast<unsigned char>(args[1][0])))
            : 0;
    // The session's one transfer type, also for its local transfers and later connections.
    if (r.Begins('2') && (wanted == 'A' || wanted == 'I' || wanted == 'L'))
        type_ = wanted == 'A' ? 'A' : 'I';
    return RelayOr(args, alias->directory, r, "ERROR: unable to run TYPE command.");
}

int AliasSession::Pasv(const Args& args) {
    return ForwardDataPort(args, false, [this](const Args& a) { return SiteSession::Pasv(a); });
}

int AliasSession::Port(const Args& args) {
    return ForwardDataPort(args, true, [this](const Args& a) { return SiteSession::Port(a); });
}

int AliasSession::ForwardDataPort(const Args& args, bool port, const Inherited& inherited) {
    if (port && args.size() < 2) return inherited(args);
    chosenMirror_.reset();
    const std::string current = ResolveDirectory("");
    const std::optional<AliasRecord> alias = server_.Aliases().FindAliasForPath(current);
    // A mirrored directory sends the data command to a mirror chosen by weight, and when that
    // one fails to its default mirror; otherwise it goes to the alias holding the directory.
    const auto choose = [&](bool useDefault) {
        chosenMirror_ = server_.Mirrors().ChooseMirror(current, useDefault, mirrorCounter_);
        return chosenMirror_ ? *chosenMirror_ : alias ? alias->directory : std::string();
    };
    std::string target = choose(false);
    if (target.empty()) return inherited(args);
    const char* failure =
        port ? "ERROR: unable to run PORT command." : "ERROR: unable to run PASV command.";
    std::string line = "PASV";
    if (port) {
        // The remote server connects wherever PORT points: only to the client itself (as for a
        // local PORT), never to a service port, and with every field a byte.
        std::string address;
        unsigned number = 0;
        if (!server_.AcceptsPortTarget(args[1], address, number) ||
            !server_.AllowsDataPeer(user_, peerIp_, address, -1, 0)) {
            chosenMirror_.reset();
            Respond(args, "Invalid PORT command.", "500");
            return 0;
        }
        line = "PORT " + args[1];
    }
    RemoteReply r = ForwardToAlias(target, line, Hold::Keep);
    // Without a mirror to fall back to, silence is not tried again.
    if (!r.Begins('2') && (r.Complete() || chosenMirror_)) {
        target = choose(true);
        if (target.empty()) return inherited(args);
        r = ForwardToAlias(target, line, Hold::Keep);
    }
    if (r.Begins('2') && !port && !ParsePassiveReply(r.lines.front())) {
        // An address the client cannot use; the passive port it opened goes with the
        // connection.
        ReleaseHeld();
        chosenMirror_.reset();
        Respond(args, failure, "530");
        return 0;
    }
    if (r.Begins('2')) {
        // The data connection is the remote server's now: a local listener would only wait,
        // and an older local PORT would send a later local transfer to where the client no
        // longer listens. Back in the local tree the client sets its own again.
        ClosePassiveListener();
        passive_ = !port;
        portAddress_.clear();
        portNumber_.clear();
        dataPortHeld_ = true;
    }
    return RelayOr(args, target, r, failure);
}

int AliasSession::OnPath(const Args& args, const PathRule& rule, const Inherited& inherited,
                         Hold hold) {
    if (args.size() < 2) return inherited(args);
    const std::optional<AliasTarget> t = TargetOf(Join(args), rule.directory);
    if (!t) return inherited(args);
    if (rule.letters && !CheckAccess(args[0].c_str(), nullptr, rule.letters, false)) return 0;
    const std::string line = std::string(rule.verb) + ' ' + t->remote;
    return RelayOr(args, t->alias.directory, ForwardToAlias(t->alias.directory, line, hold),
                   rule.failure);
}

int AliasSession::Dele(const Args& args) {
    return OnPath(args, {"DELE", "wo", "ERROR: unable to run DELE command.", false},
                  [this](const Args& a) { return SiteSession::Dele(a); });
}

int AliasSession::Mdtm(const Args& args) {
    const Inherited inherited = [this](const Args& a) { return SiteSession::Mdtm(a); };
    if (SetsModifyTime(args)) return ForwardModifyTime(args, inherited);
    return OnPath(args, {"MDTM", "drlvx", "ERROR: unable to run MDTM command.", false}, inherited);
}

int AliasSession::Size(const Args& args) {
    return OnPath(args, {"SIZE", nullptr, "ERROR: unable to run SIZE command.", false},
                  [this](const Args& a) { return SiteSession::Size(a); });
}

int AliasSession::Rnfr(const Args& args) {
    return OnPath(
        args, {"RNFR", "wa", "ERROR: unable to run RNFR command.", false},
        [this](const Args& a) { return SiteSession::Rnfr(a); }, Hold::Keep);
}

int AliasSession::Rnto(const Args& args) {
    return OnPath(
        args, {"RNTO", "wa", "ERROR: unable to run RNTO command.", false},
        [this](const Args& a) { return SiteSession::Rnto(a); }, Hold::Consume);
}

int AliasSession::Stat(const Args& args) {
    if (args.size() < 2) return SiteSession::Stat(args);
    const Inherited inherited = [this](const Args& a) { return SiteSession::Stat(a); };
    if (!TargetOf(Join(args), false)) return inherited(args);
    if (!CheckAccess(args[0].c_str(), nullptr, "sx", false)) return 0;
    return OnPath(args, {"STAT", "lx", "ERROR: unable to run STAT command.", false}, inherited);
}

int AliasSession::Mkd(const Args& args) {
    const Inherited inherited = [this](const Args& a) { return SiteSession::Mkd(a); };
    // The alias directory itself lives here, in the local tree.
    if (args.size() >= 2) {
        const std::optional<AliasTarget> t = TargetOf(Join(args), true);
        if (t && StringUtil::EqualNoCase(ResolveDirectory(Join(args)), t->alias.directory))
            return inherited(args);
    }
    return OnPath(args, {"MKD", "wm", "ERROR: unable to run MKD command.", true}, inherited);
}

int AliasSession::Rmd(const Args& args) {
    const Inherited inherited = [this](const Args& a) { return SiteSession::Rmd(a); };
    if (args.size() >= 2) {
        const std::optional<AliasTarget> t = TargetOf(Join(args), true);
        if (t && StringUtil::EqualNoCase(ResolveDirectory(Join(args)), t->alias.directory))
            return inherited(args);
    }
    return OnPath(args, {"RMD", "wn", "ERROR: unable to run RMD command.", true}, inherited);
}

int AliasSession::Cwd(const Args& args) {
    if (args.size() < 2) return SiteSession::Cwd(args);
    const char* failure = "ERROR: unable to set CWD.";
    const std::optional<AliasTarget> t = TargetOf(Join(args), true);
    if (!t) return SiteSession::Cwd(args);
    if (!CheckAccess(args[0].c_str(), nullptr, "cx", false)) return 0;
    const std::string full = ResolveDirectory(Join(args));
    std::string_view rest;
    if (!FileUtil::SkipPrefixNoCase(full, siteRoot_, rest)) {
        Respond(args, failure, "530");
        return 0;
    }
    const RemoteReply r =
        ForwardToAlias(t->alias.directory, "CWD " + t->remote.substr(0, kMaxRemoteCwd));
    if (r.Begins('2')) {
        // The client sees the local name; both views leave any directory link behind.
        siteDir_ = std::string(rest);
        FileUtil::StripLeadingSep(siteDir_);
        cwd_ = siteDir_;
        root_ = siteRoot_;
    }
    return RelayOr(args, t->alias.directory, r, failure);
}

}  // namespace orvex
