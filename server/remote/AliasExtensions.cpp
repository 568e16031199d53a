// EPSV, EPRT, MLSD and MLST where the data would come from a remote server. EPSV's reply names
// no address, so the client would connect here, not to the remote server: it is refused and
// clients fall back to PASV. An IPv4 EPRT goes on as PORT. Machine listings are not asked of
// servers that may not know them; clients fall back to LIST.

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

}  // namespace orvex
