// SITE CHANGE: one field of one user, of a list of users, of a group's members or of every user
// whose name matches a pattern. The fields are rows of one table.

#include <limits>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/UserFile.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandTable.h"
#include "server/site/accounts/AccountCommands.h"
#include "server/site/accounts/SiteAccounts.h"

namespace orvex::site {

namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUint32Max = std::numeric_limits<uint32_t>::max();
constexpr size_t kStartDirMax = 78;

// What changing one user's field came to.
struct Outcome {
    bool ok = false;                 // the change was made
    std::vector<std::string> lines;  // what a single-name change answers
    std::string log;                 // the sysop-log line of a made change
};

// The field, its values and the user being changed.
struct FieldChange {
    SiteSession& s;
    std::string field;  // upper case
    std::vector<std::string> values;
    std::string user;
    bool siteop = false;  // the issuer has flag 1
    std::string Joined() const {
        std::string text;
        for (const std::string& v : values) text += (text.empty() ? "" : " ") + v;
        return text;
    }
};

using ApplyField = void (*)(const FieldChange&, UserRecord&, Outcome&);

struct Field {
    const char* name;
    const char* help;
    ApplyField apply;  // null: the field is not in the user record
};

void Fail(Outcome& out, const char* line) {
    out.lines.emplace_back(line);
}

void Done(Outcome& out, const char* line, std::string log) {
    out.ok = true;
    out.lines.emplace_back(line);
    out.log = std::move(log);
}

// A number of the field's stored range; false (after the failure line) when it is not one.
bool Number(const FieldChange& c, size_t i, int64_t low, int64_t high, Outcome& out,
            const char* bad, int64_t& value) {
    if (ReadNumberIn(c.values[i], low, high, value)) return true;
    Fail(out, bad);
    return false;
}

void Text(const FieldChange& c, std::string& field, const char* done, Outcome& out) {
    std::string text = c.Joined();
    StringUtil::Truncate(text, kUserTextMax);
    std::string log = StringUtil::Format(": changed %s for '%s' from '%s' to '%s'", c.field.c_str(),
                                         c.user.c_str(), field.c_str(), text.c_str());
    field = std::move(text);
    Done(out, done, std::move(log));
}

void Letters(const FieldChange& c, std::string& field, size_t max, bool flags, Outcome& out) {
    if (!c.siteop) {
        // As the FLAGS and PERMISSIONS listings say: anything else would let a user editor
        // make itself a site operator.
        Fail(out, flags ? " Only sysop users may change flags."
                        : " Only sysop users may change permissions.");
        return;
    }
    const std::optional<std::string> edited = EditLetters(field, c.values[0], max, flags);
    if (!edited) {
        Fail(out, flags ? " Error: you need to use + or - in front of flags."
                        : " Error: you need to use + or - in front of permissions.");
        return;
    }
    field = *edited;
    Done(out, flags ? " Flags successfully changed." : " Permissions successfully changed.",
         StringUtil::Format(": changed %s for '%s' to '%s' (%s)", c.field.c_str(), c.user.c_str(),
                            field.c_str(), c.values[0].c_str()));
}

// A KB/s speed kept in bytes per second.
void Speed(const FieldChange& c, int32_t& field, const char* done, const char* bad, Outcome& out) {
    int64_t kb = 0;
    if (!Number(c, 0, 0, kInt32Max / 1024, out, bad, kb)) return;
    const long old = field / 1024;
    field = static_cast<int32_t>(kb * 1024);
    Done(out, done,
         StringUtil::Format(": changed %s for '%s' from %ld Kb/sec to %ld Kb/sec", c.field.c_str(),
                            c.user.c_str(), old, static_cast<long>(kb)));
}

void Simultaneous(const FieldChange& c, int32_t& field, const char* done, const char* bad,
                  Outcome& out) {
    int64_t v = 0;
    if (!Number(c, 0, kInt32Min, kInt32Max, out, bad, v)) return;
    const long old = field;
    field = static_cast<int32_t>(v);
    Done(out, done,
         StringUtil::Format(": changed %s for '%s' from '%ld' to '%ld'", c.field.c_str(),
                            c.user.c_str(), old, static_cast<long>(v)));
}

// Two numbers, the second optional: a bad second one is reported, the first still stored.
template <class A, class B>
void Pair(const FieldChange& c, A& first, B& second, int64_t low, int64_t high, const char* done,
          const char* badFirst, const char* badSecond, Outcome& out) {
    int64_t a = 0, b = 0;
    if (!Number(c, 0, low, high, out, badFirst, a)) return;
    first = static_cast<A>(a);
    if (c.values.size() > 1) {
        if (Number(c, 1, low, high, out, badSecond, b)) second = static_cast<B>(b);
    }
    Done(out, done,
         StringUtil::Format(": changed %s for '%s' to '%ld %ld'", c.field.c_str(), c.user.c_str(),
                            static_cast<long>(first), static_cast<long>(second)));
}

void Comment(const FieldChange& c, UserRecord& r, Outcome& out) {
    Text(c, r.comment, " Comment successfully changed.", out);
}

void Tagline(const FieldChange& c, UserRecord& r, Outcome& out) {
    Text(c, r.tagline, " Tagline successfully changed.", out);
}

// A signed amount of kilobytes, logged with its old value.
void KilobyteAmount(const FieldChange& c, int32_t& field, const char* invalid, const char* changed,
                    Outcome& out) {
    int64_t v = 0;
    if (!Number(c, 0, kInt32Min, kInt32Max, out, invalid, v)) return;
    const long old = field;
    field = static_cast<int32_t>(v);
    Done(out, changed,
         StringUtil::Format(": changed %s for '%s' from %ldKb to %ldKb", c.field.c_str(),
                            c.user.c_str(), old, static_cast<long>(v)));
}

void Credits(const FieldChange& c, UserRecord& r, Outcome& out) {
    KilobyteAmount(c, r.credits, " Invalid number of credits.", " Credits successfully changed.",
                   out);
}

void WeeklyAllotment(const FieldChange& c, UserRecord& r, Outcome& out) {
    KilobyteAmount(c, r.weeklyAllotment, " Invalid weekly credit allotment.",
                   " Weekly credit allotment successfully changed.", out);
}

void FlagsField(const FieldChange& c, UserRecord& r, Outcome& out) {
    Letters(c, r.flags, kUserTextMax, true, out);
}

void PermissionsField(const FieldChange& c, UserRecord& r, Outcome& out) {
    Letters(c, r.permissions, kUserPermissionsMax, false, out);
}

void GroupSlots(const FieldChange& c, UserRecord& r, Outcome& out) {
    Pair(c, r.userSlots, r.leechSlots, kInt32Min, kInt32Max, " Group slots successfully changed.",
         " Invalid number of user slots.", " Invalid number of leach slots.", out);
}

void NumLogins(const FieldChange& c, UserRecord& r, Outcome& out) {
    Pair(c, r.maxLogins, r.maxLoginsPerIp, 0, kInt32Max, " Number of logins successfully changed.",
         " Invalid number of logins.", " Invalid number of login from the same IP.", out);
}

void TimeFrame(const FieldChange& c, UserRecord& r, Outcome& out) {
    Pair(c, r.timeFrameStart, r.timeFrameEnd, 0, 23, " Time frame successfully changed.",
         " Invalid starting hour for time frame (must be 0-23).",
         " Invalid ending hour for time frame (must be 0-23).", out);
}

void IdleField(const FieldChange& c, UserRecord& r, Outcome& out) {
    int64_t v = 0;
    if (!Number(c, 0, 0, kUint32Max, out, " Invalid idle time.", v)) return;
    r.idleLimit = static_cast<uint32_t>(v);
    out.ok = true;
    out.lines.push_back(StringUtil::Format(" Maximum IDLE time set to %lu seconds.",
                                           static_cast<unsigned long>(v)));
    out.log = StringUtil::Format(": changed %s for '%s' to %lu seconds", c.field.c_str(),
                                 c.user.c_str(), static_cast<unsigned long>(v));
}

void TimeLimit(const FieldChange& c, UserRecord& r, Outcome& out) {
    int64_t v = 0;
    if (!Number(c, 0, 0, kUint32Max, out, " Invalid time limit.", v)) return;
    const long old = static_cast<long>(r.timeLimit);
    r.timeLimit = static_cast<uint32_t>(v);
    Done(out, " Time limit successfully changed.",
         StringUtil::Format(": changed %s for '%s' from %ld min to %ld min", c.field.c_str(),
                            c.user.c_str(), old, static_cast<long>(v)));
}

void RatioField(const FieldChange& c, UserRecord& r, Outcome& out) {
    int64_t v = 0;
    if (!Number(c, 0, 0, 9, out, " Ratio out of range (range is 0 to 9).", v)) return;
    const unsigned long old = r.ratio;
    r.ratio = static_cast<uint32_t>(v);
    Done(out, " Ratio successfully changed.",
         StringUtil::Format(": changed %s for '%s' from '%lu' to '%lu'", c.field.c_str(),
                            c.user.c_str(), old, static_cast<unsigned long>(v)));
}

void MaxDownloadSpeed(const FieldChange& c, UserRecord& r, Outcome& out) {
    Speed(c, r.maxDownloadSpeed, " Max download speed successfully changed.",
          " Invalid max download speed.", out);
}

void MaxUploadSpeed(const FieldChange& c, UserRecord& r, Outcome& out) {
    Speed(c, r.maxUploadSpeed, " Max upload speed successfully changed.",
          " Invalid max upload speed.", out);
}

void MaxSimDown(const FieldChange& c, UserRecord& r, Outcome& out) {
    Simultaneous(c, r.maxDownloads, " Max simultaneous downloads successfully changed.",
                 " Invalid max simultaneous downloads.", out);
}

void MaxSimUp(const FieldChange& c, UserRecord& r, Outcome& out) {
    Simultaneous(c, r.maxUploads, " Max simultaneous uploads successfully changed.",
                 " Invalid max simultaneous uploads.", out);
}

void StartupDir(const FieldChange& c, UserRecord& r, Outcome& out) {
    std::string dir = StartDirectory(c.Joined());
    if (dir.size() > kStartDirMax) dir = StartDirectory(dir.substr(0, kStartDirMax));
    r.startDir = dir;
    out.ok = true;
    out.lines.push_back(StringUtil::Format(" Start-up directory for %s changed to %s",
                                           c.user.c_str(), c.Joined().c_str()));
    out.log = StringUtil::Format(": changed %s for '%s'", c.field.c_str(), c.user.c_str());
}

// In listing order.
constexpr Field kFields[] = {
    {"COMMENT", "[Str] The user's comment", Comment},
    {"CREDITS", "[Kb]  User's Credits (use SITE GIVE to ADD)", Credits},
    {"FLAGS", "[Str] User's Flags", FlagsField},
    {"GROUP_SLOTS", "[Num Num] Num of slots (-1 = Unlimited)", GroupSlots},
    {"HOMEDIR", "[Str] User's Home Directory", nullptr},
    {"IDLE", "[Num] Maximum number of idle seconds (0=unlimited)", IdleField},
    {"PERMISSIONS", "[Str] The user's permissions", PermissionsField},
    {"RATIO", "[0-9] The user's ratio", RatioField},
    {"MAX_DLSPEED", "[Num] User's max download speed in KiloBytes/sec", MaxDownloadSpeed},
    {"MAX_ULSPEED", "[Num] User's max upload speed in KiloBytes/sec", MaxUploadSpeed},
    {"MAX_SIM_DOWN", "[Num] User's max simultaneous downloads", MaxSimDown},
    {"MAX_SIM_UP", "[Num] User's max simultaneous uploads", MaxSimUp},
    {"NUM_LOGINS", "[Num] [Num] Max concurrent connections [from same IP] (0=unlimited)",
     NumLogins},
    {"STARTUP_DIR", "[Str] User's Start-up Directory", StartupDir},
    {"TAGLINE", "[Str] The user's tagline", Tagline},
    {"TIME_LIMIT", "[Num] User's time limit (in minutes)", TimeLimit},
    {"TIMEFRAME", "[0-23 0-23] Hours between which the user can log in", TimeFrame},
    {"WKLY_ALLOTMENT", "[Num] Weekly credit allotment in KiloBytes", WeeklyAllotment},
};

const Field* FindField(std::string_view name) {
    for (const Field& f : kFields)
        if (StringUtil::EqualNoCase(f.name, name)) return &f;
    return nullptr;
}

// Whether a home lies at or below the default home directory, where the sites of the accounts
// are: anywhere else (the installation with its keys and passwords, the host's own files) only
// a site operator may send a user.
bool InsideSites(const SiteConfig& config, const std::string& home) {
    std::string sites = config.GetDefaultHomeDir();
    if (sites.empty()) return false;
    FileUtil::AddTrailingSep(sites);
    std::string rest = home;
    FileUtil::AddTrailingSep(rest);
    if (rest.compare(0, sites.size(), sites) != 0) return false;
    rest.erase(0, sites.size());
    std::string normalised = rest;
    FileUtil::NormaliseDots(normalised);
    return normalised == rest && FileUtil::StaysUnder(sites, home);
}

// HOMEDIR lives in the passwd account: "./" values under the root path, others absolute.
void HomeDir(const FieldChange& c, Outcome& out) {
    const std::string typed = c.Joined();
    std::string home;
    if (typed.rfind("./", 0) == 0)
        home = c.s.Server().Config().GetRootPath() + AccountText::RelativePath(typed);
    else
        home = AccountText::AbsolutePath(typed);
    // A ";" table field: separators and line ends would break the passwd file.
    const bool written = AccountText::IsTableField(typed) &&
                         (c.siteop || InsideSites(c.s.Server().Config(), home)) &&
                         c.s.Server().Accounts().UpdateAccount(c.user, [&home](Account& a) {
                             a.home = home;
                             return true;
                         }) == RecordUpdate::Saved;
    if (!written) {
        out.lines.push_back(StringUtil::Format(" Error modifying %s.", c.user.c_str()));
        return;
    }
    out.ok = true;
    out.lines.push_back(
        StringUtil::Format(" Homedir for %s changed to %s", c.user.c_str(), typed.c_str()));
    out.log = StringUtil::Format(": changed %s for '%s' to '%s'", c.field.c_str(), c.user.c_str(),
                                 typed.c_str());
}

// What a single-name change without a value answers.
std::string FieldHelp(SiteSession& s, const Field& f, const std::string& user,
                      const UserRecord& r) {
    const std::string name = StringUtil::Lowered(f.name);
    if (std::string_view(f.name) == "HOMEDIR") {
        const std::optional<Account> a = s.Server().Accounts().FindAccount(user);
        return StringUtil::Format(" %s's homedir is set to %s", user.c_str(),
                                  FileUtil::Slashed(a ? a->home : std::string()).c_str());
    }
    if (std::string_view(f.name) == "STARTUP_DIR")
        return StringUtil::Format(" %s's start-up directory is set to %s", user.c_str(),
                                  FileUtil::Slashed(r.startDir).c_str());
    if (std::string_view(f.name) == "TIMEFRAME")
        return " timeframe  [0-23 0-23] The hours between which the user can log in";
    return " " + name + "  " + f.help;
}

void ListFields(SiteSession& s) {
    s.Line(" Valid fields & descriptions:");
    s.Line(" ");
    for (const Field& f : kFields)
        s.Line(StringUtil::Format(" %-18s%s", StringUtil::Lowered(f.name).c_str(), f.help));
}

enum class Targets { Single, List, Pattern, Group };

}  // namespace

int Change(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.change");
    const std::string& target = args[2];
    if (args.size() == 3 && target != "{") {
        // The user's report, as SITE USER shows it.
        if (const SiteCommand* report = s.FindSiteCommand("USER"))
            return report->handler(s, Args{"SITE", "USER", target});
        return Show(s, Args{"SITE", "SHOW", target});
    }

    Targets kind = Targets::Single;
    std::vector<std::string> names;
    size_t fieldAt = 3;
    if (target == "{") {
        kind = Targets::List;
        size_t i = 3;
        for (; i < args.size() && args[i] != "}"; ++i) names.push_back(args[i]);
        if (i == args.size()) {
            s.Respond(args, "} not found in list of usernames.", "501");
            return 0;
        }
        fieldAt = i + 1;
    } else if (!target.empty() && target[0] == '=') {
        kind = Targets::Group;
        const std::string group = target.substr(1);
        for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers))
            if (StringUtil::EqualNoCase(n.data.group, group)) names.push_back(n.name.value_or(""));
    } else if (IsPattern(target)) {
        kind = Targets::Pattern;
        names = UsersMatching(s, target);
    } else {
        names.push_back(target);
    }
    const bool single = kind == Targets::Single;
    const bool listed = kind == Targets::List;

    const std::optional<UserRecord> issuer = IssuerRecord(s);
    const std::string fieldName = fieldAt < args.size() ? args[fieldAt] : std::string();
    const Field* field = FindField(fieldName);
    FieldChange change{
        s, StringUtil::Uppered(fieldName), {}, {}, issuer && issuer->HasFlag(kFlagSiteop)};
    if (fieldAt + 1 < args.size()) change.values.assign(args.begin() + fieldAt + 1, args.end());

    int applied = 0;
    for (const std::string& typed : names) {
        std::string user;
        const std::optional<UserRecord> record = s.Server().Users().FindUser(typed, &user);
        const std::string failed = StringUtil::Format(" Error modifying %s.", typed.c_str());
        if (!record) {
            if (single) s.Line(StringUtil::Format(" User '%s' does not exist.", typed.c_str()));
            if (listed) s.Line(failed);
            continue;
        }
        if (const Authority a = AuthorityOver(issuer, *record); a != Authority::Granted) {
            if (single)
                s.Line(" " +
                       (a == Authority::OtherGroup ? NotInGroup(*issuer) : std::string(kNoAccess)));
            if (listed) s.Line(failed);
            continue;
        }
        if (!field || change.values.empty()) {
            if (single && fieldName.empty()) s.Line(failed);
            if (single && !fieldName.empty() && !field) ListFields(s);
            if (single && field) s.Line(FieldHelp(s, *field, user, *record));
            if (listed) s.Line(failed);
            continue;
        }
        change.user = user;
        Outcome out;
        if (field->apply) {
            const RecordUpdate saved = s.Server().Users().UpdateUser(
                user,
                [&](UserRecord& r) {
                    out = Outcome{};
                    field->apply(change, r, out);
                    return out.ok;
                },
                s.ConnectionNumber());
            if (out.ok && saved != RecordUpdate::Saved) out = Outcome{false, {failed}, {}};
        } else {
            HomeDir(change, out);
        }
        if (single)
            for (const std::string& line : out.lines) s.Line(line);
        if (listed)
            s.Line(out.ok ? StringUtil::Format(" Successfully modified %s", user.c_str()) : failed);
        if (!out.ok) continue;
        ++applied;
        s.SysopLog(out.log);
    }
    if (!single && !listed)
        s.Line(StringUtil::Format(" Change command applied to %d users.", applied));
    s.Respond(args, "Done", "200");
    return 1;
}

}  // namespace orvex::site
