// SITE commands on whole accounts: ADDUSER, GADDUSER, DELUSER, READD, PURGE and RENUSER.

#include "engine/StringUtil.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/accounts/AccountCommands.h"
#include "server/site/accounts/SiteAccounts.h"

namespace orvex::site {

namespace {

constexpr size_t kMasksGivenAtCreation = 5;
constexpr const char* kNoSlots = "Sorry, no more open slots available.";

const char* Plural(unsigned n) {
    return n == 1 ? "user" : "users";
}

// Takes one of the issuer's user slots (-1: unlimited, nothing taken); false when none is left.
bool TakeUserSlot(SiteSession& s) {
    bool taken = false;
    s.Server().Users().UpdateUser(
        s.UserName(),
        [&taken](UserRecord& r) {
            if (r.userSlots == -1) taken = true;
            if (r.userSlots <= 0) return false;
            --r.userSlots;
            taken = true;
            return true;
        },
        s.ConnectionNumber());
    return taken;
}

void GiveUserSlotBack(SiteSession& s) {
    s.Server().Users().UpdateUser(
        s.UserName(),
        [](UserRecord& r) {
            if (r.userSlots == -1) return false;
            ++r.userSlots;
            return true;
        },
        s.ConnectionNumber());
}

// ADDUSER from the name at `at`: name, password, masks. `group` is GADDUSER's.
int AddAccount(SiteSession& s, const Args& args, size_t at, const std::string* group) {
    const std::string& name = args[at];
    const std::string& password = args[at + 1];
    if (name.size() > kUserNameMax) {
        s.Respond(args,
                  StringUtil::Format("Username cannot exceed %d characters.",
                                     static_cast<int>(kUserNameMax)),
                  "501");
        return 0;
    }
    if (!IsValidLocalName(name)) {
        s.Respond(args,
                  "Username must start with a letter and only contain "
                  "[A-Z,a-z,0-9,'-','_'].",
                  "502");
        return 0;
    }
    if (StringUtil::EqualNoCase(name, "system")) {
        s.Respond(args, StringUtil::Format("'%s' is not an allowed username.", name.c_str()),
                  "503");
        return 0;
    }
    if (password.size() > kPasswordSignificant) {
        s.Respond(args,
                  StringUtil::Format("Password cannot exceed %d characters.",
                                     static_cast<int>(kPasswordSignificant)),
                  "504");
        return 0;
    }

    UserStore& users = s.Server().Users();
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    // A group's template must not hand the operator's flag to an account a lesser user made.
    const std::string withheld = issuer && issuer->HasFlag(kFlagSiteop) ? "" : "1";
    std::string joined;
    int added = 0;
    if (issuer && issuer->HasFlag(kFlagGadmin)) {
        // The slot is taken first, so that two additions at once cannot share the last one.
        if (!TakeUserSlot(s)) {
            s.Respond(args, kNoSlots, "505");
            return 0;
        }
        joined = issuer->group;
        added = users.AddUser(name, password, s.UserName(), joined, true, withheld);
        if (added != 1) GiveUserSlotBack(s);
    } else if (group) {
        if (!s.Server().Groups().FindGroup(*group, &joined)) {
            s.Respond(args, StringUtil::Format("Group (%s) does not exists.", group->c_str()),
                      "507");
            return 0;
        }
        added = users.AddUser(name, password, s.UserName(), joined, false, withheld);
    } else {
        added = users.AddUser(name, password, s.UserName(), "", false, withheld);
    }

    if (added == 2) {
        s.Respond(args, StringUtil::Format("User %s already exists.", name.c_str()), "508");
        return 0;
    }
    if (added != 1) {
        s.Respond(args, StringUtil::Format("Error adding user %s.", name.c_str()), "509");
        return 0;
    }
    if (args.size() > at + 2) {
        users.UpdateUser(
            name,
            [&](UserRecord& r) {
                for (size_t i = 0; i < kMasksGivenAtCreation && at + 2 + i < args.size(); ++i)
                    r.ipMasks[i] = args[at + 2 + i];
                return true;
            },
            s.ConnectionNumber());
    }
    if (!joined.empty()) {
        s.SysopLog(
            StringUtil::Format(": added user '%s' to group '%s'.", name.c_str(), joined.c_str()));
        s.Respond(args,
                  StringUtil::Format("User (%s) successfully added to group %s.", name.c_str(),
                                     joined.c_str()),
                  "200");
    } else {
        s.SysopLog(StringUtil::Format(": added user '%s'.", name.c_str()));
        s.Respond(args, StringUtil::Format("User (%s) successfully added.", name.c_str()), "200");
    }
    return 1;
}

}  // namespace

int AddUser(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.adduser");
    return AddAccount(s, args, 2, nullptr);
}

int GAddUser(SiteSession& s, const Args& args) {
    if (args.size() < 5) return s.SendHelp(args, "site.gadduser");
    return AddAccount(s, args, 3, &args[2]);
}

int DelUser(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.deluser");
    const std::string& pattern = args[2];
    if (!IsPattern(pattern) && StringUtil::EqualNoCase(pattern, s.UserName())) {
        s.Respond(args, "Cannot delete the current user.", "501");
        return 0;
    }
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    const bool gadmin = issuer && issuer->HasFlag(kFlagGadmin);
    unsigned deleted = 0;
    std::string someone;
    bool otherGroup = false, siteopOnly = false;
    for (const std::string& name : UsersMatching(s, pattern)) {
        if (StringUtil::EqualNoCase(name, s.UserName())) continue;
        Authority authority = Authority::Granted;
        bool newly = false;
        s.Server().Users().UpdateUser(
            name,
            [&](UserRecord& r) {
                authority = AuthorityOver(issuer, r);
                if (authority != Authority::Granted || r.HasFlag(kFlagDeleted)) return false;
                r.flags.push_back(kFlagDeleted);
                newly = true;
                return true;
            },
            s.ConnectionNumber());
        if (authority != Authority::Granted) {
            (authority == Authority::OtherGroup ? otherGroup : siteopOnly) = true;
            continue;
        }
        if (someone.empty()) someone = name;
        s.Server().Registry().KickUser(name, s.ConnectionNumber());
        if (!newly) continue;
        ++deleted;
        s.SysopLog(StringUtil::Format(": deleted user '%s'.", name.c_str()));
        if (gadmin) GiveUserSlotBack(s);
    }
    if (IsPattern(pattern)) {
        s.Respond(args, StringUtil::Format("Deleted %u %s.", deleted, Plural(deleted)), "200");
        return 1;
    }
    if (!someone.empty()) {
        s.Respond(args, StringUtil::Format("User (%s) deleted.", someone.c_str()), "200");
        return 1;
    }
    if (otherGroup) {
        s.Respond(args, NotInGroup(*issuer), "503");
        return 0;
    }
    if (siteopOnly) {
        s.Respond(args, kNoAccess, "550");
        return 0;
    }
    s.Respond(args, StringUtil::Format("User '%s' does not exist.", pattern.c_str()), "502");
    return 0;
}

int ReAdd(SiteSession& s, const Args& args) {
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    const bool gadmin = issuer && issuer->HasFlag(kFlagGadmin);
    if (args.size() < 3) {
        s.SendHelpLines("site.readd.top");
        std::vector<std::string> names;
        for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers))
            if (n.data.HasFlag(kFlagDeleted) && AuthorityOver(issuer, n.data) == Authority::Granted)
                names.push_back(n.name.value_or(""));
        for (size_t i = 0; i < names.size(); i += 2) {
            std::string line = StringUtil::Format(" %-33s", names[i].c_str());
            if (i + 1 < names.size()) line += StringUtil::Format(" %-33s", names[i + 1].c_str());
            s.Line(line);
        }
        if (names.empty()) s.Line("  <None>");
        s.SendHelpLines("site.readd.bottom");
        s.Respond(args, "Command Successful.", "200");
        return 1;
    }
    if (!issuer) {
        s.Respond(args, "Unable to access slots.", "501");
        return 0;
    }
    const std::string& pattern = args[2];
    unsigned readded = 0;
    std::string someone;
    bool otherGroup = false, siteopOnly = false, noSlots = false;
    for (const std::string& name : UsersMatching(s, pattern)) {
        const std::optional<UserRecord> target = s.Server().Users().FindUser(name);
        if (!target || !target->HasFlag(kFlagDeleted)) continue;
        if (const Authority a = AuthorityOver(issuer, *target); a != Authority::Granted) {
            (a == Authority::OtherGroup ? otherGroup : siteopOnly) = true;
            continue;
        }
        if (gadmin && !TakeUserSlot(s)) {
            noSlots = true;
            continue;
        }
        bool changed = false;
        s.Server().Users().UpdateUser(
            name,
            [&changed](UserRecord& r) {
                const size_t at = r.flags.find(kFlagDeleted);
                if (at == std::string::npos) return false;
                r.flags.erase(at, 1);
                changed = true;
                return true;
            },
            s.ConnectionNumber());
        if (!changed) {
            if (gadmin) GiveUserSlotBack(s);
            continue;
        }
        ++readded;
        if (someone.empty()) someone = name;
        s.SysopLog(StringUtil::Format(": readded '%s'.", name.c_str()));
    }
    if (IsPattern(pattern)) {
        s.Respond(args, StringUtil::Format("Readded %u %s.", readded, Plural(readded)), "200");
        return 1;
    }
    if (!someone.empty()) {
        s.Respond(args, StringUtil::Format("User (%s) readded.", someone.c_str()), "200");
        return 1;
    }
    if (otherGroup) {
        s.Respond(args, NotInGroup(*issuer), "502");
    } else if (siteopOnly) {
        s.Respond(args, kNoAccess, "550");
    } else if (noSlots) {
        s.Respond(args, kNoSlots, "504");
    } else {
        s.Respond(args, StringUtil::Format("User %s has not been deleted.", pattern.c_str()),
                  "503");
    }
    return 0;
}

int Purge(SiteSession& s, const Args& args) {
    const std::string pattern = args.size() > 2 ? args[2] : std::string("*");
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    unsigned purged = 0;
    for (const std::string& name : UsersMatching(s, pattern)) {
        const std::optional<UserRecord> target = s.Server().Users().FindUser(name);
        if (!target || !target->HasFlag(kFlagDeleted)) continue;
        if (AuthorityOver(issuer, *target) != Authority::Granted) continue;
        s.Server().Registry().KickUser(name, s.ConnectionNumber());
        if (!s.Server().Users().DeleteUser(name)) continue;
        s.Line(StringUtil::Format(" User (%s) purged.", name.c_str()));
        s.SysopLog(StringUtil::Format(": purged '%s'.", name.c_str()));
        ++purged;
    }
    s.Respond(args, StringUtil::Format("Command successful.  (%u Users Purged)", purged), "200");
    return 1;
}

int RenUser(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.renuser");
    if (args.size() == 3) {
        s.Respond(args, "Missing new user name.", "501");
        return 0;
    }
    const std::string& from = args[2];
    const std::string& to = args[3];
    if (StringUtil::EqualNoCase(from, s.UserName())) {
        s.Respond(args, "Cannot rename the current user.", "502");
        return 0;
    }
    if (to.size() > kUserNameMax) {
        s.Respond(args,
                  StringUtil::Format("User name length must not exceed %d characters.",
                                     static_cast<int>(kUserNameMax)),
                  "503");
        return 0;
    }
    if (!IsValidLocalName(to)) {
        s.Respond(args,
                  "User name must start with a letter and only contain "
                  "[A-Z,a-z,0-9,'-','_'].",
                  "504");
        return 0;
    }
    // Entries without an owner show "system": a user of that name would own them all.
    if (StringUtil::EqualNoCase(to, "system")) {
        s.Respond(args, StringUtil::Format("'%s' is not an allowed username.", to.c_str()), "504");
        return 0;
    }
    const std::optional<UserRecord> target = s.Server().Users().FindUser(from);
    if (target && !CheckAuthority(s, args, *target, "506")) return 0;
    switch (s.Server().Users().RenameUser(from, to)) {
        case 1:
            s.SysopLog(StringUtil::Format(": renamed user '%s' to '%s'", from.c_str(), to.c_str()));
            s.Respond(args,
                      StringUtil::Format("User (%s) successfully renamed to (%s).", from.c_str(),
                                         to.c_str()),
                      "200");
            return 1;
        case 2:
            s.Respond(args, StringUtil::Format("User (%s) exists.", to.c_str()), "505");
            return 0;
        default:
            s.Respond(args, StringUtil::Format("User (%s) does not exists.", from.c_str()), "506");
            return 0;
    }
}

}  // namespace orvex::site
