// EPSV, EPRT, MLSD and MLST where the data would come from a remote server. EPSV's reply names
// no address, so the client would connect here, not to the remote server: it is refused and
// clients fall back to PASV. An IPv4 EPRT goes on as PORT. Machine listings are not asked of
// servers that may not know them; clients fall back to LIST. Modification times are set on the
// remote server when its FEAT lists MFMT.

#include "engine/MachineListing.h"
#include "engine/StringUtil.h"
#include "engine/commands/PortArgument.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/remote/AliasSession.h"

namespace orvex {

bool AliasSession::DataComesFromElsewhere() {
    const std::string current = ResolveDirectory("");
    return CurrentAlias() || server_.Files().MirrorIdOf(current) != 0;
}

int AliasSession::Epsv(const Args& args) {
    const bool all = args.size() >= 2 && StringUtil::EqualNoCase(args[1], "ALL");
    if (all || !DataComesFromElsewhere()) return SiteSession::Epsv(args);
    Respond(args, "EPSV not available in remote directories, use PASV.", "502");
    return 0;
}

int AliasSession::Eprt(const Args& args) {
    if (args.size() < 2 || !DataComesFromElsewhere()) return SiteSession::Eprt(args);
    std::string address;
    unsigned port = 0;
    if (commands::ParseEprtArgument(args[1], address, port) != commands::EprtParse::kOk ||
        address.find(':') != std::string::npos) {
        Respond(args, "Network protocol not supported, use (1).", "522");
        return 0;
    }
    std::string fields = address;
    for (char& c : fields)
        if (c == '.') c = ',';
    fields += ',' + std::to_string(port >> 8) + ',' + std::to_string(port & 0xff);
    return Port({"PORT", fields});
}

int AliasSession::Mlsd(const Args& args) {
    if (!chosenMirror_ && !TargetOf(Join(args), true)) return SiteSession::Mlsd(args);
    Respond(args, "MLSD not available in remote directories, use LIST.", "502");
    return 0;
}

int AliasSession::Mlst(const Args& args) {
    if (!TargetOf(Join(args), false)) return SiteSession::Mlst(args);
    Respond(args, "MLST not available in remote directories.", "502");
    return 0;
}

int AliasSession::Mfmt(const Args& args) {
    return ForwardModifyTime(args, [this](const Args& a) { return SiteSession::Mfmt(a); });
}

int AliasSession::ForwardModifyTime(const Args& args, const Inherited& inherited) {
    int64_t time = 0;
    // What is no time is answered without looking at the path.
    if (args.size() < 3 || !MachineListing::ParseUtcStamp(args[1], time)) return inherited(args);
    const std::optional<AliasTarget> t = TargetOf(Join(args, 0, 2), false);
    if (!t) return inherited(args);
    if (!CheckAccess(args[0].c_str(), nullptr, "uw", false)) return 0;
    const std::string& dir = t->alias.directory;
    const char* failure = "ERROR: unable to run MFMT command.";
    const std::optional<bool> offered = RemoteOffers(dir, "MFMT");
    if (!offered) {
        Respond(args, failure, "530");
        return 0;
    }
    if (!*offered) {
        Respond(args, "Modification times cannot be set in this directory.", "502");
        return 0;
    }
    return RelayOr(args, dir, ForwardToAlias(dir, "MFMT " + args[1] + ' ' + t->remote), failure);
}

std::optional<bool> AliasSession::RemoteOffers(const std::string& directory,
                                               std::string_view feature) {
    const std::string key = StringUtil::Uppered(directory);
    auto known = remoteFeatures_.find(key);
    if (known == remoteFeatures_.end()) {
        const RemoteReply r = ForwardToAlias(directory, "FEAT");
        if (!r.Complete()) return std::nullopt;
        std::vector<std::string> lines;
        if (r.Begins('2')) lines = r.lines;  // a refusal lists nothing
        known = remoteFeatures_.emplace(key, std::move(lines)).first;
    }
    for (const std::string& line : known->second) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        const std::string_view name =
            std::string_view(line).substr(start, line.find(' ', start) - start);
        if (StringUtil::EqualNoCase(name, feature)) return true;
    }
    return false;
}

}  // namespace orvex
