// SITE commands that change single fields of one account: ADDIP, DELIP, CHPASS, PASSWD, GIVE,
// TAKE, RATIO, IDLE and TAGLINE.

#include <cstdint>
#include <limits>

#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/accounts/AccountCommands.h"
#include "server/site/accounts/SiteAccounts.h"

namespace orvex::site {

namespace {

constexpr int64_t kCreditsMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kCreditsMin = std::numeric_limits<int32_t>::min();

int32_t ClampCredits(int64_t value) {
    return static_cast<int32_t>(std::clamp(value, kCreditsMin, kCreditsMax));
}

// The target of a command on another user: its stored name and record, after the unknown-user
// and authority checks have answered with their codes. None after a refusal.
struct Target {
    std::string name;
    UserRecord record;
};
std::optional<Target> FindTarget(SiteSession& s, const Args& args, const char* unknownText,
                                 const char* unknownCode, const char* groupCode) {
    Target t;
    std::optional<UserRecord> record = s.Server().Users().FindUser(args[2], &t.name);
    if (!record) {
        s.Respond(args, StringUtil::Format(unknownText, args[2].c_str()), unknownCode);
        return std::nullopt;
    }
    t.record = std::move(*record);
    if (!CheckAuthority(s, args, t.record, groupCode)) return std::nullopt;
    return t;
}

// A digit 0 to 9: the position of a mask.
std::optional<size_t> MaskPosition(std::string_view text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '9') return std::nullopt;
    return static_cast<size_t>(text[0] - '0');
}

// Sets the stored password of `name`'s account; the reply codes for a missing account and a
// failed write differ between the callers.
RecordUpdate SetPassword(SiteSession& s, const std::string& name, const std::string& password) {
    return s.Server().Accounts().UpdateAccount(name, [&password](Account& a) {
        // The stored form is made under the account's own spelling of the name.
        a.password = StoredPassword(a.user, password);
        return true;
    });
}

// GIVE and TAKE: user, amount and an optional message.
struct Transfer {
    std::string name;
    int64_t amount = 0;
    std::string message;
};
std::optional<Transfer> ReadTransfer(SiteSession& s, const Args& args, const char* noAmount) {
    Transfer t;
    if (!s.Server().Users().HasUser(args[2], &t.name)) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", args[2].c_str()), "501");
        return std::nullopt;
    }
    if (args.size() < 4) {
        s.Respond(args, noAmount, "502");
        return std::nullopt;
    }
    // The stored credits are 32 bits: larger amounts are refused rather than wrapped.
    if (!ReadNumberIn(args[3], 0, kCreditsMax, t.amount)) {
        s.Respond(args, "Credits must be a positive number.", "503");
        return std::nullopt;
    }
    t.message = Join(args, 0, 4);
    return t;
}

bool AddCredits(SiteSession& s, const std::string& name, int64_t delta) {
    return s.Server().Users().UpdateUser(
               name,
               [delta](UserRecord& r) {
                   r.credits = ClampCredits(int64_t{r.credits} + delta);
                   return true;
               },
               s.ConnectionNumber()) == RecordUpdate::Saved;
}

}  // namespace

int AddIp(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.addip");
    const std::optional<Target> t = FindTarget(s, args, "User '%s' does not exists.", "501", "502");
    if (!t) return 0;
    const std::string& mask = args[3];
    bool stored = false;
    s.Server().Users().UpdateUser(
        t->name,
        [&](UserRecord& r) {
            for (std::string& slot : r.ipMasks) {
                if (!slot.empty()) continue;
                slot = mask;
                stored = true;
                return true;
            }
            return false;
        },
        s.ConnectionNumber());
    if (!stored) {
        s.Respond(args,
                  StringUtil::Format("User '%s' has maximum number of IPS currently (%d)",
                                     t->name.c_str(), static_cast<int>(kUserIpMasks)),
                  "503");
        return 0;
    }
    s.SysopLog(StringUtil::Format(": added IP '%s' to '%s'", mask.c_str(), t->name.c_str()));
    s.Respond(
        args,
        StringUtil::Format("IP (%s) successfully added to %s.", mask.c_str(), t->name.c_str()),
        "200");
    return 1;
}

int DelIp(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.delip");
    const std::optional<Target> t = FindTarget(s, args, "User '%s' does not exists.", "501", "502");
    if (!t) return 0;
    const std::string& which = args[3];
    const std::optional<size_t> position = MaskPosition(which);
    std::vector<std::string> removed;
    s.Server().Users().UpdateUser(
        t->name,
        [&](UserRecord& r) {
            removed.clear();
            for (size_t i = 0; i < r.ipMasks.size(); ++i) {
                std::string& mask = r.ipMasks[i];
                if (mask.empty() || (mask != which && position != i)) continue;
                removed.push_back(mask);
                mask.clear();
            }
            return !removed.empty();
        },
        s.ConnectionNumber());
    if (removed.empty()) {
        s.Respond(args, StringUtil::Format("IP %s not found.", which.c_str()), "503");
        return 0;
    }
    for (const std::string& mask : removed) {
        s.Line(StringUtil::Format("IP (%s) removed from %s.", mask.c_str(), t->name.c_str()));
        s.SysopLog(
            StringUtil::Format(": removed IP '%s' from '%s'", mask.c_str(), t->name.c_str()));
    }
    s.Respond(args, "Done", "200");
    return 1;
}

int ChPass(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.chpass");
    const std::string& password = args[3];
    if (password.size() > kPasswordSignificant) {
        s.Respond(args,
                  StringUtil::Format("Password length must not exceed %d characters.",
                                     static_cast<int>(kPasswordSignificant)),
                  "501");
        return 0;
    }
    const std::optional<Target> t = FindTarget(s, args, "User '%s' does not exists.", "502", "503");
    if (!t) return 0;
    switch (SetPassword(s, t->name, password)) {
        case RecordUpdate::Saved:
            s.SysopLog(StringUtil::Format(": changed password for '%s'", t->name.c_str()));
            s.Respond(
                args,
                StringUtil::Format("Password successfully changed for user '%s'.", t->name.c_str()),
                "200");
            return 1;
        case RecordUpdate::Unknown:
            s.Respond(
                args,
                StringUtil::Format("Cannot get password info for user '%s'.", t->name.c_str()),
                "504");
            return 0;
        default:
            s.Respond(args,
                      StringUtil::Format("Password change failed for user '%s'.", t->name.c_str()),
                      "505");
            return 0;
    }
}

int Passwd(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.passwd");
    const std::string& password = args[2];
    const std::string& self = s.UserName();
    if (password.size() > kPasswordSignificant) {
        s.Respond(args,
                  StringUtil::Format("Password length must not exceed %d characters.",
                                     static_cast<int>(kPasswordSignificant)),
                  "501");
        return 0;
    }
    switch (SetPassword(s, self, password)) {
        case RecordUpdate::Saved:
            s.SysopLog(": changed password");
            s.Respond(
                args,
                StringUtil::Format("Password successfully changed for user '%s'.", self.c_str()),
                "200");
            return 1;
        case RecordUpdate::Unknown:
            s.Respond(args,
                      StringUtil::Format("Cannot get password info for user '%s'.", self.c_str()),
                      "502");
            return 0;
        default:
            s.Respond(args,
                      StringUtil::Format("Password change failed for user '%s'.", self.c_str()),
                      "503");
            return 0;
    }
}

int Give(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.give");
    const std::optional<Transfer> t =
        ReadTransfer(s, args, "You must specify the amount of credits to give.");
    if (!t) return 0;
    const std::string reply = StringUtil::Format("Successfully transferred %uK to %s.",
                                                 static_cast<unsigned>(t->amount), t->name.c_str());
    if (StringUtil::EqualNoCase(t->name, s.UserName())) {
        s.Respond(args, reply, "200");
        return 1;
    }
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    const bool pays = !issuer || !issuer->HasFlag(kFlagSiteop);
    // Nothing is claimed, logged or sent unless both user files took the change.
    const std::string failed = StringUtil::Format(
        "Unable to transfer %uK to %s.", static_cast<unsigned>(t->amount), t->name.c_str());
    if (pays) {
        bool enough = true;
        const RecordUpdate paid = s.Server().Users().UpdateUser(
            s.UserName(),
            [&](UserRecord& r) {
                enough = r.credits >= t->amount;
                if (!enough) return false;
                r.credits = ClampCredits(int64_t{r.credits} - t->amount);
                return true;
            },
            s.ConnectionNumber());
        if (!enough) {
            s.Respond(args, "You don't have enough credits to do that.", "504");
            return 0;
        }
        if (paid != RecordUpdate::Saved) {
            s.Respond(args, failed, "505");
            return 0;
        }
    }
    if (!AddCredits(s, t->name, t->amount)) {
        if (pays) AddCredits(s, s.UserName(), t->amount);
        s.Respond(args, failed, "505");
        return 0;
    }
    if (!t->message.empty()) s.SendMessage(t->name, t->message);
    s.SysopLog(StringUtil::Format(": transferred %uK to '%s'", static_cast<unsigned>(t->amount),
                                  t->name.c_str()));
    s.Respond(args, reply, "200");
    return 1;
}

int Take(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.take");
    const std::optional<Transfer> t =
        ReadTransfer(s, args, "You must specify the amount of credits to take.");
    if (!t) return 0;
    const std::optional<UserRecord> target = s.Server().Users().FindUser(t->name);
    if (target && !CheckAuthority(s, args, *target, "504")) return 0;
    const unsigned amount = static_cast<unsigned>(t->amount);
    if (!AddCredits(s, t->name, -t->amount)) {
        s.Respond(args, StringUtil::Format("Unable to take %uK from %s", amount, t->name.c_str()),
                  "504");
        return 0;
    }
    if (!t->message.empty()) s.SendMessage(t->name, t->message);
    s.SysopLog(StringUtil::Format(": took %uK from %s.", amount, t->name.c_str()));
    s.Respond(args, StringUtil::Format("Successfully took %uK from %s", amount, t->name.c_str()),
              "200");
    return 1;
}

int Ratio(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.ratio");
    const std::optional<Target> t = FindTarget(s, args, "User '%s' does not exists.", "501", "502");
    if (!t) return 0;
    const uint32_t old = t->record.ratio;
    if (args.size() == 3) {
        const std::string shown =
            old == 0 ? std::string("Unlimited")
                     : StringUtil::Format("1:%lu", static_cast<unsigned long>(old));
        s.Respond(args, "Current Ratio: " + shown, "200");
        return 1;
    }
    int64_t value = 0;
    if (!ReadNumberIn(args[3], 0, 9, value)) {
        s.Respond(args, "Ratio out of range (range is 0 to 9).", "503");
        return 0;
    }
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    if (issuer && issuer->HasFlag(kFlagGadmin)) {
        if (value != 0 && value != 3) {
            s.Respond(args, "Error: you can only change ratio to 0 or 3.", "507");
            return 0;
        }
        // Only a change to or from leech moves a slot: repeating a ratio mints nothing.
        const int delta = (value == 0 && old != 0) ? -1 : (value != 0 && old == 0) ? 1 : 0;
        int refusal = 0;
        const RecordUpdate saved = s.Server().Users().UpdateUser(
            s.UserName(),
            [&](UserRecord& r) {
                if (r.leechSlots == -1)
                    refusal = 504;
                else if (delta < 0 && r.leechSlots == 0)
                    refusal = 505;
                if (refusal != 0 || delta == 0) return false;
                r.leechSlots += delta;
                return true;
            },
            s.ConnectionNumber());
        if (refusal == 504) {
            s.Respond(args, "Error: Your leech slots setting is not enabled.", "504");
            return 0;
        }
        if (refusal == 505) {
            s.Respond(args, "Error: you can't add any more leech accounts.", "505");
            return 0;
        }
        if (saved != RecordUpdate::Saved && saved != RecordUpdate::Unchanged) {
            s.Respond(args, "Error: Unable to update your leech account.", "506");
            return 0;
        }
    }
    s.Server().Users().UpdateUser(
        t->name,
        [value](UserRecord& r) {
            r.ratio = static_cast<uint32_t>(value);
            return true;
        },
        s.ConnectionNumber());
    s.SysopLog(StringUtil::Format(": changed ratio for '%s' from '%lu' to '%lu'", t->name.c_str(),
                                  static_cast<unsigned long>(old),
                                  static_cast<unsigned long>(value)));
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Idle(SiteSession& s, const Args& args) {
    const std::optional<UserRecord> self = IssuerRecord(s);
    if (!self) {
        s.Respond(args, "Unable to load user data.", "501");
        return 0;
    }
    if (args.size() < 3) {
        s.Respond(args,
                  StringUtil::Format("Current IDLE time limit is %u seconds (0=unlimited).",
                                     self->idleLimit),
                  "200");
        return 1;
    }
    if (!s.CheckSiteAccess("IDLE")) {
        s.Respond(args, kNoAccess, "550");
        return 0;
    }
    int64_t seconds = 0;
    if (!ReadNumberIn(args[2], 0, std::numeric_limits<uint32_t>::max(), seconds)) {
        s.Respond(args, "Invalid idle time.", "501");
        return 0;
    }
    const RecordUpdate saved = s.Server().Users().UpdateUser(
        s.UserName(),
        [seconds](UserRecord& r) {
            r.idleLimit = static_cast<uint32_t>(seconds);
            return true;
        },
        s.ConnectionNumber());
    if (saved != RecordUpdate::Saved) {
        s.Respond(args, "Unable to update IDLE time.", "502");
        return 0;
    }
    s.Respond(
        args,
        StringUtil::Format("Maximum IDLE time set to %u seconds.", static_cast<unsigned>(seconds)),
        "200");
    return 1;
}

int Tagline(SiteSession& s, const Args& args) {
    const std::optional<UserRecord> self = IssuerRecord(s);
    if (args.size() < 3) {
        s.Respond(args, "Current Tagline: " + (self ? self->tagline : std::string()), "200");
        return 1;
    }
    std::string text = Join(args, 0, 2);
    StringUtil::Truncate(text, kUserTextMax);
    const RecordUpdate saved = s.Server().Users().UpdateUser(
        s.UserName(),
        [&text](UserRecord& r) {
            r.tagline = text;
            return true;
        },
        s.ConnectionNumber());
    if (saved != RecordUpdate::Saved) {
        s.Respond(args, "Unable to load user data.", "501");
        return 0;
    }
    s.SysopLog(StringUtil::Format(": changed tagline to '%s'", text.c_str()));
    s.Respond(args, "New Tagline: " + text, "200");
    return 1;
}

}  // namespace orvex::site
