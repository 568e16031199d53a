// The SITE handler: finds the sub-command's row, runs its access check, then its handler; plus
// the helpers every sub-command shares (help files, reply lines, the sysop log) and the form of a
// SITE line that the logs may keep.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/session/SiteAccounts.h"
#include "server/session/SiteCommandTable.h"
#include "server/session/SiteSession.h"

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

int SiteSession::SendHelp(const Args& args, std::string_view file) {
    const std::string path = server_.MakeDataPath("help/", file);
    if (path.empty()) {
        Respond(args, "ERROR: out of memory.", "451", true, true, true);
        return 0;
    }
    const bool sent = TextFileReply::Send(Replies(), path, "200", std::nullopt, 0);
    Respond(args, "help", "200", false);
    return sent ? 1 : 0;
}

bool SiteSession::SendHelpLines(std::string_view file) {
    const std::string path = server_.MakeDataPath("help/", file);
    return !path.empty() && TextFileReply::Send(Replies(), path, "200", std::nullopt, 1);
}

void SiteSession::Line(std::string_view text) {
    Replies().Reply(text, "200", 1);
}

int SiteSession::RespondWithSecret(const Args& args, std::string_view text, std::string_view secret,
                                   std::string_view code) {
    std::string logged(text);
    if (!secret.empty())
        for (size_t at = logged.find(secret); at != std::string::npos; at = logged.find(secret, at))
            logged.erase(at, secret.size());
    Respond(args, logged, code, false, true);
    return Respond(args, text, code, true, false);
}

void SiteSession::SysopLog(std::string_view message) {
    WriteEventLog("sysop.log", message, user_);
}

std::string SiteSession::RealDirectory() const {
    return FileUtil::OsPath(root_ + cwd_);
}

Args SiteSession::LoggableArgs(const Args& args) const {
    if (args.size() < 3 || !StringUtil::EqualNoCase(args[0], "SITE") || FindSiteCommand(args[1]))
        return LoggableSiteArgs(args);
    const std::optional<CustomCommand> custom = server_.Config().FindCustomCommand(args[1]);
    const bool alias = custom && StringUtil::EqualNoCase(custom->mode, "IS");
    return LoggableSiteArgs(args, alias ? std::string_view(custom->target) : std::string_view());
}

}  // namespace orvex
