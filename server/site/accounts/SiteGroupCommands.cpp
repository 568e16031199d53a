// SITE commands on groups: CHGRP, GROUP, GROUPS, GRPADD, GRPDEL, GRPLOG, GRPNFO and GRPREN.

#include <limits>
#include <map>

#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/accounts/AccountCommands.h"
#include "server/site/accounts/SiteAccounts.h"

namespace orvex::site {

namespace {

constexpr const char* kNoGroupId = "100";

std::string Quoted(const char* fmt, const std::string& a) {
    return StringUtil::Format(fmt, a.c_str());
}

std::string Quoted(const char* fmt, const std::string& a, const std::string& b) {
    return StringUtil::Format(fmt, a.c_str(), b.c_str());
}

// The lines that show a user's group, before the final line.
void ShowMembership(SiteSession& s, const std::string& title, const std::string& group) {
    s.Line(title);
    s.Line(kDashLine);
    s.Line("  " + group);
    s.Line("");
}

// Moves `user` into `group` (with its id) or, when `leave`, out of it: the user record's group
// and the account's group id change together.
void SetGroup(SiteSession& s, const std::string& user, const std::string& group,
              const std::string& id) {
    s.Server().Users().UpdateUser(
        user,
        [&group](UserRecord& r) {
            r.group = group;
            return true;
        },
        s.ConnectionNumber());
    s.Server().Accounts().UpdateAccount(user, [&id](Account& a) {
        a.gid = id;
        return true;
    });
}

// Checks of a new group name shared by GRPADD and GRPREN, which answer with their own codes.
struct NameCodes {
    const char* length;
    const char* invalid;
    const char* reserved;
};
bool ValidGroupName(SiteSession& s, const Args& args, const std::string& name,
                    const NameCodes& codes) {
    if (name.size() > kGroupNameMax) {
        s.Respond(args,
                  StringUtil::Format("Group length must not exceed %d characters.",
                                     static_cast<int>(kGroupNameMax)),
                  codes.length);
        return false;
    }
    if (!IsValidLocalName(name)) {
        s.Respond(args, "Group must start with a letter and only contain [A-Z,a-z,0-9,'-','_'].",
                  codes.invalid);
        return false;
    }
    // Entries without an owner show "system": the name belongs to nobody.
    if (StringUtil::EqualNoCase(name, "system")) {
        s.Respond(args, Quoted("'%s' is not an allowed group name.", name), codes.reserved);
        return false;
    }
    return true;
}

}  // namespace

int ChGrp(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.chgrp");
    std::string user;
    const std::optional<UserRecord> record = s.Server().Users().FindUser(args[2], &user);
    if (!record) {
        s.Respond(args, Quoted("'%s': user not found.", args[2]), "501");
        return 0;
    }
    if (!s.Server().Accounts().FindAccount(user)) {
        s.Respond(args, Quoted("'%s': unable to load user information.", user), "502");
        return 0;
    }
    if (args.size() > 3) {
        // A group administrator's rights follow its group: only an operator moves one.
        const std::optional<UserRecord> issuer = IssuerRecord(s);
        const bool siteop = issuer && issuer->HasFlag(kFlagSiteop);
        if (record->HasFlag(kFlagGadmin) && !siteop) {
            s.Respond(args, kNoAccess, "550");
            return 0;
        }
        if (!CheckAuthority(s, args, *record, "503")) return 0;
    }
    if (args.size() == 3) {
        ShowMembership(s, Quoted(" %s is a member of the following group:", user), record->group);
        s.Respond(args, "Use SITE CHGRP <username> <group> to toggle groups.", "200");
        return 1;
    }
    std::string group;
    const std::optional<GroupRecord> g = s.Server().Groups().FindGroup(args[3], &group);
    if (!g) {
        s.Respond(args, Quoted("'%s' is not a valid group. SITE GROUPS for a list.", args[3]),
                  "504");
        return 0;
    }
    if (StringUtil::EqualNoCase(record->group, group)) {
        SetGroup(s, user, "", kNoGroupId);
        s.SysopLog(Quoted(": successfully removed '%s' from '%s'", user, group));
        s.Respond(args, Quoted("'%s' has been successfully removed from '%s'", user, group), "200");
    } else {
        SetGroup(s, user, group, g->id);
        s.SysopLog(Quoted(": successfully added '%s' to '%s'", user, group));
        s.Respond(args, Quoted("'%s' has been successfully added to '%s'.", user, group), "200");
    }
    return 1;
}

int Group(SiteSession& s, const Args& args) {
    const std::string& self = s.UserName();
    const std::optional<UserRecord> record = IssuerRecord(s);
    if (!record || !s.Server().Accounts().FindAccount(self)) {
        s.Respond(args, Quoted("'%s': unable to load user information.", self), "501");
        return 0;
    }
    if (args.size() < 3) {
        ShowMembership(s, " You are a member of the following group:", record->group);
        s.Respond(args, "Command successful.", "200");
        return 1;
    }
    // A group administrator that changed groups would administer another group's users: it
    // stays where an operator put it, as a group-locked user does.
    if (record->HasFlag(kFlagGadmin) && !record->HasFlag(kFlagSiteop)) {
        s.Respond(args, kNoAccess, "550");
        return 0;
    }
    std::string group;
    const std::optional<GroupRecord> g = s.Server().Groups().FindGroup(args[2], &group);
    if (!g) {
        s.Respond(args, Quoted("'%s' is not a valid group. SITE GROUPS for a list.", args[2]),
                  "502");
        return 0;
    }
    if (StringUtil::EqualNoCase(record->group, group)) {
        SetGroup(s, self, "", kNoGroupId);
        s.SysopLog(Quoted(": has been removed from group '%s'", group));
        s.Respond(args, Quoted("You have been successfully removed from '%s'", group), "200");
        return 1;
    }
    if (!record->group.empty()) {
        s.Respond(args,
                  Quoted("You must leave \"%s\" before you may join \"%s\".", record->group, group),
                  "501");
        return 0;
    }
    SetGroup(s, self, group, g->id);
    s.SysopLog(Quoted(": has joined group '%s'", group));
    s.Respond(args, Quoted("You have been successfully added to '%s'.", group), "200");
    return 1;
}

int Groups(SiteSession& s, const Args& args) {
    std::map<std::string, unsigned> members;
    for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers))
        ++members[StringUtil::Lowered(n.data.group)];
    const KeyedList<GroupRecord> groups = s.Server().Groups().ListGroups();
    s.Line(" #users  Group Abbr.      Group Description");
    s.Line(kDashLine);
    unsigned count = 0;
    for (const auto& n : groups) {
        const std::string name = n.name.value_or("");
        s.Line(StringUtil::Format(" (%4u)  %-16s %s", members[StringUtil::Lowered(name)],
                                  name.c_str(), n.data.description.c_str()));
        ++count;
    }
    s.Line("");
    s.Line(" Type SITE CHGRP to add or remove users from these groups.");
    s.Line("");
    s.Respond(args, StringUtil::Format("%u user groups", count), "200");
    return 1;
}

int GrpAdd(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.grpadd");
    const std::string& name = args[2];
    if (!ValidGroupName(s, args, name, {"501", "502", "503"})) return 0;
    const std::string description = Join(args, 0, 3);
    // The group file is a ";" table: a field holding a separator would break its line.
    if (!AccountText::IsTableField(description) ||
        s.Server().Groups().AddGroup(name, description) != 1) {
        s.Respond(args, Quoted("Error adding group %s.", name), "504");
        return 0;
    }
    s.SysopLog(Quoted(": added group '%s'", name));
    s.Respond(args, Quoted("Group (%s) successfully added.", name), "200");
    return 1;
}

int GrpDel(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.grpdel");
    const std::string& name = args[2];
    if (!s.Server().Groups().DeleteGroup(name)) {
        s.Respond(args, Quoted("Group (%s) does not exists.", name), "501");
        return 0;
    }
    s.SysopLog(Quoted(": deleted group '%s'", name));
    s.Respond(args, Quoted("Group (%s) successfully deleted.", name), "200");
    return 1;
}

int GrpLog(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.grplog");
    const std::string& name = args[2];
    if (args.size() == 3) {
        const std::optional<GroupRecord> g = s.Server().Groups().FindGroup(name);
        if (!g) {
            s.Respond(args, "Missing group login restriction.", "501");
            return 0;
        }
        s.Respond(args,
                  g->logins == 0
                      ? Quoted("Total logins for group '%s' set to 0 (unlimited).", name)
                      : StringUtil::Format("Total logins for group '%s' set to %lu.", name.c_str(),
                                           static_cast<unsigned long>(g->logins)),
                  "200");
        return 1;
    }
    int64_t logins = 0;
    if (!ReadNumberIn(args[3], 0, std::numeric_limits<uint32_t>::max(), logins)) {
        s.Respond(args, Quoted("%s: Invalid number of logins.", args[3]), "502");
        return 0;
    }
    const RecordUpdate saved = s.Server().Groups().UpdateGroup(name, [logins](GroupRecord& g) {
        g.logins = static_cast<uint32_t>(logins);
        return true;
    });
    if (saved != RecordUpdate::Saved) {
        s.Respond(args, Quoted("Group (%s) does not exists.", name), "503");
        return 0;
    }
    s.SysopLog(StringUtil::Format(": changed group logins of '%s' to (%lu)", name.c_str(),
                                  static_cast<unsigned long>(logins)));
    s.Respond(args, Quoted("Group (%s) successfully changed.", name), "200");
    return 1;
}

int GrpNfo(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.grpnfo");
    if (args.size() == 3) {
        s.Respond(args, "Missing group description.", "501");
        return 0;
    }
    const std::string& name = args[2];
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    if (issuer && !MayActOn(*issuer, name)) {
        s.Respond(args, "Gadmins can only use this command on their own group.", "502");
        return 0;
    }
    std::string description = Join(args, 0, 3);
    if (!AccountText::IsTableField(description)) {
        s.Respond(args, "Group description cannot contain a ';'.", "503");
        return 0;
    }
    StringUtil::Truncate(description, kGroupDescriptionMax);
    const RecordUpdate saved =
        s.Server().Groups().UpdateGroup(name, [&description](GroupRecord& g) {
            g.description = description;
            return true;
        });
    if (saved != RecordUpdate::Saved) {
        s.Respond(args, Quoted("Group (%s) does not exists.", name), "504");
        return 0;
    }
    s.SysopLog(Quoted(": changed groupnfo of '%s' to '%s'", name, description));
    s.Respond(args, Quoted("Group (%s) successfully changed.", name), "200");
    return 1;
}

int GrpRen(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.grpren");
    if (args.size() == 3) {
        s.Respond(args, "Missing new group name.", "501");
        return 0;
    }
    const std::string& from = args[2];
    const std::string& to = args[3];
    if (!ValidGroupName(s, args, to, {"502", "503", "503"})) return 0;
    switch (s.Server().Groups().RenameGroup(from, to)) {
        case 1:
            break;
        case 2:
            s.Respond(args, Quoted("Group (%s) exists.", to), "504");
            return 0;
        default:
            s.Respond(args, Quoted("Group (%s) does not exists.", from), "505");
            return 0;
    }
    // Members follow one by one; users of other servers keep the name their server gave.
    for (const auto& n : s.Server().Users().ListUsers(UserStore::kLocalUsers)) {
        if (!StringUtil::EqualNoCase(n.data.group, from)) continue;
        s.Server().Users().UpdateUser(
            n.name.value_or(""),
            [&](UserRecord& r) {
                if (!StringUtil::EqualNoCase(r.group, from)) return false;
                r.group = to.substr(0, kUserTextMax);
                return true;
            },
            s.ConnectionNumber());
    }
    s.SysopLog(Quoted(": changed group name of '%s' to '%s'", from, to));
    s.Respond(args, Quoted("Group (%s) successfully renamed to (%s).", from, to), "200");
    return 1;
}

}  // namespace orvex::site
