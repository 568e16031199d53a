// Built-in permission expression of every SITE command.
#include <array>
#include <utility>

#include "server/app/SiteConfigRecord.h"

namespace orvex {

namespace {

constexpr const char* kStaff = "1 2 7";
constexpr const char* kEditors = "1 7";
constexpr const char* kSiteop = "1";
constexpr const char* kUsers = "!8 *";

using Entry = std::pair<const char*, const char*>;

constexpr std::array<Entry, kDefaultSiteFlagCount> kDefaults{{
    {"ADDIP", kStaff},
    {"ADDUSER", kStaff},
    {"ALDN", kUsers},
    {"ALUP", kUsers},
    {"AUTHMODE", kSiteop},
    {"CHANGE", kEditors},
    {"CHGRP", kEditors},
    {"CHMOD", "*"},
    {"CHOWN", kSiteop},
    {"CHPASS", kStaff},
    {"COPY", kSiteop},
    {"DAYDN", kUsers},
    {"DAYUP", kUsers},
    {"DELIP", kStaff},
    {"DELTREE", kSiteop},
    {"DELUSER", kStaff},
    {"DIRINFO", "*"},
    {"DIRMIRROR", kSiteop},
    {"DISKINFO", "1 J"},
    {"DUPE", kSiteop},
    {"DUPEENABLE", kSiteop},
    {"FLAGS", kUsers},
    {"FRATIO", kSiteop},
    {"FSCK", kSiteop},
    {"FSSYNC", kSiteop},
    {"GADDUSER", kEditors},
    {"GENKEYS", kSiteop},
    {"GINFO", "1 2 H"},
    {"GIVE", "1 G"},
    {"GPAD", kUsers},
    {"GPAL", kUsers},
    {"GPMD", kUsers},
    {"GPMN", kUsers},
    {"GPWD", kUsers},
    {"GPWK", kUsers},
    {"GROUP", "!3 *"},
    {"GROUPS", kUsers},
    {"GRPADD", kSiteop},
    {"GRPDEL", kSiteop},
    {"GRPLOG", kSiteop},
    {"GRPNFO", "1 2"},
    {"GRPREN", kSiteop},
    {"HELP", kUsers},
    {"IDLE", "1 I"},
    {"KICK", "1 D"},
    {"KILL", "1 E"},
    {"LINK", kSiteop},
    {"LINKS", kSiteop},
    {"LOGINS", kSiteop},
    {"MONTHDN", kUsers},
    {"MONTHUP", kUsers},
    {"MSG", kUsers},
    {"NEW", kUsers},
    {"NUKE", "1 A"},
    {"NUKELOG", "1 A B 7"},
    {"NUKETOP", kUsers},
    {"PASSWD", kUsers},
    {"PERMISSIONS", kUsers},
    {"PURGE", kSiteop},
    {"PURGETREE", kSiteop},
    {"RATIO", kStaff},
    {"READD", kStaff},
    {"RENUSER", kEditors},
    {"REQFILLED", kUsers},
    {"REQLOG", "1 A B 7"},
    {"REQUEST", kUsers},
    {"RESTREE", kSiteop},
    {"RMLINK", kSiteop},
    {"RULES", kUsers},
    {"SEARCH", kUsers},
    {"SEEN", kUsers},
    {"SHOW", kSiteop},
    {"SHUTDOWN", kSiteop},
    {"STATE", "1 E"},
    {"STATS", kUsers},
    {"SWHO", "1 E"},
    {"SYSLOG", kSiteop},
    {"TAGLINE", kUsers},
    {"TAKE", "1 F"},
    {"TIME", kUsers},
    {"TRAFFIC", kUsers},
    {"UNDUPE", "1 C"},
    {"UNNUKE", "1 B"},
    {"UPTIME", kUsers},
    {"USER", kUsers},
    {"USERDATA", "1 R"},
    {"USERS", "1 H"},
    {"USERSYNC", kSiteop},
    {"VERS", kUsers},
    {"WELCOME", kUsers},
    {"WHO", kUsers},
    {"WIPE", kSiteop},
    {"WKDN", kUsers},
    {"WKUP", kUsers},
    {"REMOTE ADDALIAS", kSiteop},
    {"REMOTE ADDMIRROR", kSiteop},
    {"REMOTE ALIAS", kSiteop},
    {"REMOTE ALIASES", kSiteop},
    {"REMOTE CHANGE", kSiteop},
    {"REMOTE CONNECTIONS", kSiteop},
    {"REMOTE DEFMIRROR", kSiteop},
    {"REMOTE DELALIAS", kSiteop},
    {"REMOTE DELMIRROR", kSiteop},
    {"REMOTE DISCONNECT", kSiteop},
    {"REMOTE HELP", kUsers},
    {"REMOTE KILL", kSiteop},
    {"REMOTE LOGIN", "R"},
    {"REMOTE MIRRORS", kSiteop},
    {"REMOTE SHAREDCONNECTIONS", kSiteop},
    {"REMOTE SHAREDLOGIN", "R"},
    {"REMOTE SHAREDQUIT", "R"},
    {"REMOTE TUNNEL", kSiteop},
    {"REMOTE UPDATE", "R"},
}};

}  // namespace

bool BuildDefaultSiteFlags(KeyedList<std::string>& flags) {
    flags.Clear();
    int32_t id = 0;
    for (const auto& [command, expression] : kDefaults) {
        // A missing or duplicated entry would leave a command without its expression.
        if (!command || !expression || flags.FindName(command, true)) {
            flags.Clear();
            return false;
        }
        flags.Create(++id, std::string(command), std::string(expression));
    }
    return true;
}

}  // namespace orvex
