#include "server/site/SiteCommandTable.h"

#include "engine/StringUtil.h"
#include "server/site/accounts/AccountCommands.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/core/CoreCommands.h"
#include "server/site/files/FileCommands.h"

namespace orvex {

namespace {

// In slot order. Commands not listed yet answer as unknown sub-commands.
constexpr SiteCommand kRows[] = {
    {"ADDIP", site::AddIp, "ADDIP"},
    {"ADDUSER", site::AddUser, "ADDUSER"},
    {"ALDN", site::AlDn, "ALDN"},
    {"ALUP", site::AlUp, "ALUP"},
    {"AUTHMODE", site::AuthMode, "AUTHMODE"},
    // Open to every user who may use SITE at all.
    {"CERTINFO", site::CertInfo, nullptr},
    {"CHANGE", site::Change, "CHANGE"},
    {"CHGRP", site::ChGrp, "CHGRP"},
    {"CHMOD", site::Chmod, "CHMOD"},
    {"CHOWN", site::Chown, "CHOWN"},
    {"CHPASS", site::ChPass, "CHPASS"},
    {"COPY", site::Copy, "COPY"},
    {"DAYDN", site::DayDn, "DAYDN"},
    {"DAYUP", site::DayUp, "DAYUP"},
    {"DELIP", site::DelIp, "DELIP"},
    {"DELTREE", site::DelTree, "DELTREE"},
    {"DELUSER", site::DelUser, "DELUSER"},
    {"DIRINFO", site::DirInfo, "DIRINFO"},
    {"DIRMIRROR", site::DirMirror, "DIRMIRROR"},
    {"DISKINFO", site::DiskInfo, "DISKINFO"},
    {"DUPE", site::Dupe, "DUPE"},
    {"DUPEENABLE", site::DupeEnable, "DUPEENABLE"},
    {"FLAGS", site::Flags, "FLAGS"},
    {"FRATIO", site::FRatio, "FRATIO"},
    {"FSCK", site::Fsck, "FSCK"},
    // Open to every user who may use SITE at all.
    {"FSINFO", site::FsInfo, nullptr},
    {"FSSYNC", site::FsSync, "FSSYNC"},
    {"GADDUSER", site::GAddUser, "GADDUSER"},
    {"GENKEYS", site::GenKeys, "GENKEYS"},
    {"GINFO", site::GInfo, "GINFO"},
    {"GIVE", site::Give, "GIVE"},
    {"GPAD", site::GpAd, "GPAD"},
    {"GPAL", site::GpAl, "GPAL"},
    {"GPMD", site::GpMd, "GPMD"},
    {"GPMN", site::GpMn, "GPMN"},
    {"GPWD", site::GpWd, "GPWD"},
    {"GPWK", site::GpWk, "GPWK"},
    {"GROUP", site::Group, "GROUP"},
    {"GROUPS", site::Groups, "GROUPS"},
    {"GRPADD", site::GrpAdd, "GRPADD"},
    {"GRPDEL", site::GrpDel, "GRPDEL"},
    {"GRPLOG", site::GrpLog, "GRPLOG"},
    {"GRPNFO", site::GrpNfo, "GRPNFO"},
    {"GRPREN", site::GrpRen, "GRPREN"},
    {"HELP", site::Help, "HELP"},
    // Showing the own limit needs no permission; changing it does (the handler checks).
    {"IDLE", site::Idle, nullptr},
    {"KICK", site::Kick, "KICK"},
    {"KILL", site::Kill, "KILL"},
    {"LINK", site::Link, "LINK"},
    {"LINKS", site::Links, "LINKS"},
    {"LOGINS", site::Logins, "LOGINS"},
    {"MONTHDN", site::MonthDn, "MONTHDN"},
    {"MONTHUP", site::MonthUp, "MONTHUP"},
    {"MSG", site::Msg, "MSG"},
    {"NEW", site::New, "NEW"},
    {"NUKE", site::Nuke, "NUKE"},
    {"NUKELOG", site::NukeLog, "NUKELOG"},
    {"NUKETOP", site::NukeTop, "NUKETOP"},
    {"PASSWD", site::Passwd, "PASSWD"},
    {"PERMISSIONS", site::Permissions, "PERMISSIONS"},
    {"PURGE", site::Purge, "PURGE"},
    {"PURGETREE", site::PurgeTree, "PURGETREE"},
    {"RATIO", site::Ratio, "RATIO"},
    {"READD", site::ReAdd, "READD"},
    {"RENUSER", site::RenUser, "RENUSER"},
    {"REQFILLED", site::ReqFilled, "REQFILLED"},
    {"REQLOG", site::ReqLog, "REQLOG"},
    {"REQUEST", site::Request, "REQUEST"},
    {"RESTREE", site::ResTree, "RESTREE"},
    {"RMLINK", site::RmLink, "RMLINK"},
    {"RULES", site::Rules, "RULES"},
    {"SEARCH", site::Search, "SEARCH"},
    {"SEEN", site::Seen, "SEEN"},
    {"SHOW", site::Show, "SHOW"},
    {"SHUTDOWN", site::Shutdown, "SHUTDOWN"},
    {"STATE", site::State, "STATE"},
    // Everybody sees the own statistics; another user's need the permission (the handler checks).
    {"STATS", site::Stats, nullptr},
    {"SWHO", site::SWho, "SWHO"},
    {"SYSLOG", site::SysLog, "SYSLOG"},
    {"TAGLINE", site::Tagline, "TAGLINE"},
    {"TAKE", site::Take, "TAKE"},
    {"TIME", site::Time, "TIME"},
    {"TRAFFIC", site::Traffic, "TRAFFIC"},
    {"UNDUPE", site::UnDupe, "UNDUPE"},
    {"UNNUKE", site::Unnuke, "UNNUKE"},
    {"UPTIME", site::Uptime, "UPTIME"},
    {"USER", site::User, "USER"},
    {"USERDATA", site::UserData, "USERDATA"},
    {"USERS", site::Users, "USERS"},
    {"USERSYNC", site::UserSync, "USERSYNC"},
    {"VERS", site::Vers, "VERS"},
    {"WELCOME", site::Welcome, "WELCOME"},
    {"WHO", site::Who, "WHO"},
    {"WIPE", site::Wipe, "WIPE"},
    {"WKDN", site::WkDn, "WKDN"},
    {"WKUP", site::WkUp, "WKUP"},
    // Each REMOTE sub-command has its own expression; the sessions that know them check it.
    {"REMOTE", site::Remote, nullptr},
};

// The argument that holds the password of a SITE command that takes one, or 0.
size_t PasswordIndex(std::string_view command) {
    if (StringUtil::EqualNoCase(command, "PASSWD")) return 2;
    if (StringUtil::EqualNoCase(command, "CHPASS")) return 3;
    if (StringUtil::EqualNoCase(command, "ADDUSER")) return 3;
    if (StringUtil::EqualNoCase(command, "GADDUSER")) return 4;
    return 0;
}

}  // namespace

std::span<const SiteCommand> SiteCommands() {
    return kRows;
}

const SiteCommand* FindSiteCommandIn(std::span<const SiteCommand> rows, std::string_view name) {
    for (const SiteCommand& row : rows)
        if (StringUtil::EqualNoCase(row.name, name)) return &row;
    return nullptr;
}

Args LoggableSiteArgs(const Args& args, std::string_view aliasTarget) {
    if (args.size() < 3 || !StringUtil::EqualNoCase(args[0], "SITE")) return args;
    size_t secret = PasswordIndex(args[1]);
    if (secret == 0 && PasswordIndex(aliasTarget) != 0) secret = 2;
    if (secret == 0 || args.size() <= secret) return args;
    return Args(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(secret));
}

}  // namespace orvex
