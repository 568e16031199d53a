// The SITE REMOTE dispatcher and the sub-commands that add, delete and use aliases.

#include "server/remote/RemoteCommands.h"

#include <cstdlib>

#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasSession.h"
#include "server/site/SiteBraced.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/core/CoreCommands.h"

namespace orvex {

namespace remote {

namespace {

// What the password field holds: 79 hex digits are whole blocks of at most 32 characters.
constexpr size_t kAddedPasswordMax = 32;

// One row per line, so that a row is easy to find and to add.
// clang-format off
constexpr RemoteCommand kRows[] = {
    {"ADDALIAS", AddAlias, 5},
    {"ADDMIRROR", AddMirror, 3},
    {"ALIAS", Alias, 1},
    {"ALIASES", Aliases, 0},
    {"CHANGE", Change, 2},
    {"CONNECTIONS", Connections, 0},
    {"DEFMIRROR", DefMirror, 2},
    {"DELALIAS", DelAlias, 1},
    {"DELMIRROR", DelMirror, 2},
    {"DISCONNECT", Disconnect, 1},
    {"HELP", Help, 0},
    {"KILL", Kill, 1},
    {"LOGIN", Login, 4},
    {"MIRRORS", Mirrors, 0},
    {"SHAREDCONNECTIONS", SharedConnections, 0},
    {"SHAREDLOGIN", SharedLogin, 3},
    {"SHAREDQUIT", SharedQuit, 3},
    {"TUNNEL", Tunnel, 2},
    {"UPDATE", Update, 4},
};
// clang-format on

// The directory in braces at args[3]; false after answering its refusal. `next` is the
// argument after it.
bool BracedDirectory(AliasSession& s, const Args& args, std::string& typed, size_t& next) {
    const BracedName b = ParseBraced(args, 3);
    if (b.error == 1) s.Respond(args, "No alias directory was specified", "501");
    if (b.error == 2) s.Respond(args, "} not found in directory name.", "502");
    if (b.error != 0) return false;
    typed = b.name;
    next = 3 + b.used;
    return true;
}

}  // namespace

std::span<const RemoteCommand> RemoteCommands() {
    return kRows;
}

int Dispatch(AliasSession& s, const Args& args) {
    if (args.size() < 3) {
        s.Respond(args, "'SITE REMOTE': command not understood.", "500");
        return 0;
    }
    const RemoteCommand* row = nullptr;
    for (const RemoteCommand& r : kRows)
        if (StringUtil::EqualNoCase(r.name, args[2])) row = &r;
    if (!row) return s.NotUnderstood(args);
    if (!s.CheckSiteAccess(std::string("REMOTE ") + row->name)) {
        s.Respond(args, site::kNoAccess, "550");
        return 0;
    }
    if (args.size() < 3 + row->minArguments)
        return s.SendHelp(args, StringUtil::Lowered(std::string("remote.") + row->name));
    return row->handler(s, args);
}

int Help(AliasSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "remote.help");
    if (!site::IsHelpTopic(args[3])) {
        s.Respond(args, "Unable to get file information.", "451");
        return 0;
    }
    return s.SendHelp(args, StringUtil::Lowered("remote." + args[3]));
}

int AddAlias(AliasSession& s, const Args& args) {
    std::string typed;
    size_t i = 0;
    if (!BracedDirectory(s, args, typed, i)) return 0;
    if (args.size() < i + 4) {
        s.Respond(args, "Insufficient parameters.", "503");
        return 0;
    }
    int64_t port = 0;
    if (!site::ReadNumberIn(args[i + 1], 0, 65535, port)) {
        s.Respond(args, "Invalid port number (must be between 0 - 65535).", "504");
        return 0;
    }
    // Cut, the stored password would no longer decrypt.
    const std::string& password = args[i + 3];
    if (password.size() > kAddedPasswordMax) {
        s.Respond(args,
                  StringUtil::Format("Password length must not exceed %u characters.",
                                     static_cast<unsigned>(kAddedPasswordMax)),
                  "508");
        return 0;
    }
    AliasRecord r;
    r.directory = s.ResolveDirectory(typed).substr(0, kAliasPathMax);
    r.address = args[i].substr(0, kAliasTextMax);
    r.port = static_cast<uint32_t>(port);
    r.user = args[i + 2].substr(0, kAliasTextMax);
    r.password = AliasFile::EncryptPassword(r.user, password);
    if (args.size() > i + 4)
        r.remotePath = AliasFile::RemoteForm(Join(args, 0, i + 4).substr(0, kAliasFieldCut));
    r.localPath = s.Server().MakeHomePath("");
    // A separator or comment mark would move every later field of the line.
    if (!AliasFile::IsStorable(password) || !AliasFile::IsStorable(r)) {
        s.Respond(args, "Alias values cannot hold ';', '#', TAB or line breaks.", "507");
        return 0;
    }
    switch (s.Server().Aliases().AddAlias(r)) {
        case 1:
            s.Respond(args, "Alias successfully added.", "200");
            return 1;
        case 2:
            s.Respond(args, "Alias already exists.", "505");
            return 0;
        default:
            s.Respond(args, "Error adding alias.", "506");
            return 0;
    }
}

int DelAlias(AliasSession& s, const Args& args) {
    if (s.Server().Aliases().DeleteAlias(s.ResolveDirectory(Join(args, 0, 3))) == 1) {
        s.Respond(args, "Alias successfully deleted.", "200");
        return 1;
    }
    s.Respond(args, "Invalid alias.", "501");
    return 0;
}

int Disconnect(AliasSession& s, const Args& args) {
    const std::string typed = Join(args, 0, 3);
    const std::string dir = s.ResolveDirectory(typed);
    const int closed = s.Server().Aliases().DisconnectAlias(dir);
    if (closed < 0) {
        s.Respond(args, StringUtil::Format("%s: Invalid alias.", typed.c_str()), "501");
        return 0;
    }
    std::string shown;
    const bool inside = s.SiteRelative(dir, shown);
    const char* word = closed == 1 ? "connection" : "connections";
    const unsigned n = static_cast<unsigned>(closed);
    std::string text;
    if (closed == 0 && inside)
        text =
            StringUtil::Format("There are currently no connections to alias /%s.", shown.c_str());
    else if (inside)
        text = StringUtil::Format("Killed %u %s (/%s).", n, word, shown.c_str());
    else
        text = StringUtil::Format("Killed %u %s.", n, word);
    s.Respond(args, text, "200");
    return 1;
}

int Kill(AliasSession& s, const Args& args) {
    const std::string& typed = args[3];
    char* end = nullptr;
    const long socket = std::strtol(typed.c_str(), &end, 10);
    std::optional<std::string> dir;
    if (socket > 0 && end && *end == '\0')
        dir = s.Server().Aliases().AliasOfSocket(static_cast<int>(socket));
    if (!dir || s.Server().Aliases().DropConnection(*dir, static_cast<int>(socket)) == 0) {
        s.Respond(args, StringUtil::Format("%s: Invalid SDsc.", typed.c_str()), "501");
        return 0;
    }
    std::string shown;
    const std::string text =
        s.SiteRelative(*dir, shown)
            ? StringUtil::Format("Connection %ld (/%s) killed.", socket, shown.c_str())
            : StringUtil::Format("Connection %ld killed.", socket);
    s.Respond(args, text, "200");
    return 1;
}

int Tunnel(AliasSession& s, const Args& args) {
    std::string typed;
    size_t i = 0;
    if (!BracedDirectory(s, args, typed, i)) return 0;
    if (args.size() <= i) {
        s.Respond(args, "Insufficient parameters.", "503");
        return 0;
    }
    // Anything but an alias directory itself is answered by the pool: "Invalid directory
    // access." with 451.
    const std::string dir = s.ResolveDirectory(typed);
    const RemoteReply r = s.ForwardToAlias(dir, Join(args, 0, i));
    if (!r.Complete()) {
        s.Respond(args, "ERROR: unable to run TUNNEL command.", "504");
        return 0;
    }
    s.RelayReply(args, r);
    if (!r.Begins('1')) return r.Taken() ? 1 : 0;
    return s.RelayFinalReply(args, dir);
}

}  // namespace remote

Args LoggableRemoteArgs(const Args& args) {
    if (args.size() < 4 || !StringUtil::EqualNoCase(args[0], "SITE") ||
        !StringUtil::EqualNoCase(args[1], "REMOTE"))
        return args;
    const std::string sub = StringUtil::Uppered(args[2]);
    if (sub != "ADDALIAS" && sub != "CHANGE" && sub != "TUNNEL") return args;
    const BracedName b = ParseBraced(args, 3);
    // Without a closed brace nobody can tell where the password is: keep nothing after it.
    if (b.error != 0) return Args(args.begin(), args.begin() + 3);
    const size_t next = 3 + b.used;
    size_t keep = args.size();
    if (sub == "ADDALIAS") keep = next + 3;
    if (sub == "CHANGE" && next < args.size() && StringUtil::EqualNoCase(args[next], "password"))
        keep = next + 1;
    if (sub == "TUNNEL" && next < args.size() && StringUtil::EqualNoCase(args[next], "PASS"))
        keep = next + 1;
    if (keep >= args.size()) return args;
    return Args(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(keep));
}

int AliasSession::SiteRemote(const Args& args) {
    return remote::Dispatch(*this, args);
}

}  // namespace orvex
