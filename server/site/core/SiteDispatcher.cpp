// The SITE handler: finds the sub-command's row, runs its access check, then its handler; and the
// form of a SITE line that the logs may keep.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/SiteCommandTable.h"

namespace orvex {

int SiteSession::Site(const Args& args) {
    if (!CheckAccess("SITE", nullptr, "tx", false)) return 0;
    if (args.size() < 2) {
        Respond(args, "'SITE': command not understood.", "500");
        return 1;
    }
    const SiteCommand* command = FindSiteCommand(args[1]);
    if (!command) {
        SiteCustomCommand(args);
        return 0;
    }
    if (command->access && !CheckSiteAccess(command->access)) {
        Respond(args, site::kNoAccess, "550");
        return 0;
    }
    return command->handler(*this, args);
}

const SiteCommand* SiteSession::FindSiteCommand(std::string_view name) const {
    return FindSiteCommandIn(SiteCommands(), name);
}

int SiteSession::SiteRemote(const Args& args) {
    Respond(args, "'SITE REMOTE': command not understood.", "500");
    return 1;
}

bool SiteSession::CheckSiteAccess(std::string_view command) {
    if (siteBypass_) return true;
    const std::optional<UserRecord> record = server_.Users().FindUser(user_);
    if (!record) return false;
    return server_.Config().MatchSiteCommand(command, user_, record->group, record->flags) == 1;
}

Args SiteSession::LoggableArgs(const Args& args) const {
    if (args.size() < 3 || !StringUtil::EqualNoCase(args[0], "SITE") || FindSiteCommand(args[1]))
        return LoggableSiteArgs(args);
    const std::optional<CustomCommand> custom = server_.Config().FindCustomCommand(args[1]);
    const bool alias = custom && StringUtil::EqualNoCase(custom->mode, "IS");
    return LoggableSiteArgs(args, alias ? std::string_view(custom->target) : std::string_view());
}

}  // namespace orvex
