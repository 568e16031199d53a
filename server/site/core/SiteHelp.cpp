// SITE HELP: the help file of the site or of one topic.

#include "engine/StringUtil.h"
#include "server/session/SiteSession.h"
#include "server/site/core/CoreCommands.h"

namespace orvex::site {

bool IsHelpTopic(std::string_view topic) {
    if (topic.empty() || topic.find("..") != std::string_view::npos) return false;
    for (char c : topic) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

int Help(SiteSession& s, const Args& args) {
    if (args.size() < 3) {
        s.SendHelp(args, "site.help");
        return 1;
    }
    if (!IsHelpTopic(args[2])) {
        s.Respond(args, "Unable to get file information.", "451");
        return 1;
    }
    s.SendHelp(args, StringUtil::Lowered("site." + args[2]));
    return 1;
}

}  // namespace orvex::site
