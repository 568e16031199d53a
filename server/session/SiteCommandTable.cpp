#include "server/session/SiteCommandTable.h"

#include "engine/StringUtil.h"
#include "server/session/SiteCommands.h"

namespace orvex {

namespace {

// In slot order. Commands not listed yet answer as unknown sub-commands.
constexpr SiteCommand kRows[] = {
    {"ADDIP", site::AddIp, "ADDIP"},
    {"ADDUSER", site::AddUser, "ADDUSER"},
    {"AUTHMODE", site::AuthMode, "AUTHMODE"},
    // Open to every user who may use SITE at all.
    {"CERTINFO", site::CertInfo, nullptr},
    {"CHANGE", site::Change, "CHANGE"},
    {"CHGRP", site::ChGrp, "CHGRP"},
    {"CHMOD", site::Chmod, "CHMOD"},
    {"CHOWN", site::Chown, "CHOWN"},
    {"CHPASS", site::ChPass, "CHPASS"},
    {"COPY", site::Copy, "COPY"},
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
    {"LINK", site::Link, "LINK"},
    {"LINKS", site::Links, "LINKS"},
    {"LOGINS", site::Logins, "LOGINS"},
    {"NEW", site::New, "NEW"},
    {"NUKE", site::Nuke, "NUKE"},
    {"NUKELOG", site::NukeLog, "NUKELOG"},
    {"PASSWD", site::Passwd, "PASSWD"},
    {"PERMISSIONS", site::Permissions, "PERMISSIONS"},
    {"PURGE", site::Purge, "PURGE"},
    {"PURGETREE", site::PurgeTree, "PURGETREE"},
    {"RATIO", site::Ratio, "RATIO"},
    {"READD", site::ReAdd, "READD"},
    {"RENUSER", site::RenUser, "RENUSER"},
    {"REQLOG", site::ReqLog, "REQLOG"},
    {"RESTREE", site::ResTree, "RESTREE"},
    {"RMLINK", site::RmLink, "RMLINK"},
    {"SEARCH", site::Search, "SEARCH"},
    {"SHOW", site::Show, "SHOW"},
    {"SHUTDOWN", site::Shutdown, "SHUTDOWN"},
    {"SYSLOG", site::SysLog, "SYSLOG"},
    {"TAGLINE", site::Tagline, "TAGLINE"},
    {"TAKE", site::Take, "TAKE"},
    {"UNDUPE", site::UnDupe, "UNDUPE"},
    {"UNNUKE", site::Unnuke, "UNNUKE"},
    {"USERDATA", site::UserData, "USERDATA"},
    {"USERSYNC", site::UserSync, "USERSYNC"},
    {"WIPE", site::Wipe, "WIPE"},
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
