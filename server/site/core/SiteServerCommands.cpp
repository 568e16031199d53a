// SITE commands about the server itself: AUTHMODE and SHUTDOWN (settings of the loaded
// configuration), GENKEYS and CERTINFO (the TLS identity), and REMOTE.

#include <optional>
#include <string_view>

#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteModeCommands.h"
#include "server/certs/CertStore.h"
#include "server/session/SiteSession.h"
#include "server/site/core/CoreCommands.h"

namespace orvex::site {

namespace {

int ModeReply(SiteSession& s, const Args& args, const SiteReply& reply) {
    s.Respond(args, reply.text, std::to_string(reply.code));
    return reply.code == 200 ? 1 : 0;
}

std::optional<std::string_view> FirstArgument(const Args& args) {
    if (args.size() < 3) return std::nullopt;
    return args[2];
}

}  // namespace

int AuthMode(SiteSession& s, const Args& args) {
    return ModeReply(s, args, SiteAuthMode(s.Server().Config(), FirstArgument(args)));
}

int Shutdown(SiteSession& s, const Args& args) {
    return ModeReply(s, args, SiteShutdown(s.Server().Config(), FirstArgument(args)));
}

int GenKeys(SiteSession& s, const Args& args) {
    switch (s.Server().Certs().GenerateKeys()) {
        case 1:
            s.Line(" Old certificate and keys were backed up.");
            s.Respond(args, "A new SSL certificate and keys was successfully created.", "200");
            return 1;
        case -1:
            s.Respond(args, "Unable to load the certificate configuration file.", "501");
            return 0;
        default:
            s.Respond(args, "Unable to generate a new SSL certificate and keys.", "502");
            return 0;
    }
}

int CertInfo(SiteSession& s, const Args& args) {
    const orvex::CertInfo info = s.Server().Certs().ReadCertInfo();
    const std::pair<const char*, const std::string*> rows[] = {
        {"Country     ", &info.country},  {"State       ", &info.state},
        {"Locality    ", &info.locality}, {"Organization", &info.organization},
        {"Org Unit    ", &info.orgUnit},  {"Common Name ", &info.commonName},
        {"Email Addr  ", &info.email},
    };
    s.Line(" +----------------[ Certificate Information ]-----------------+");
    for (const auto& [label, value] : rows)
        s.Line(StringUtil::Format(" | %s: %-44s |", label, value->c_str()));
    s.Line(" +------------------------------------------------------------+");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Remote(SiteSession& s, const Args& args) {
    return s.SiteRemote(args);
}

}  // namespace orvex::site
