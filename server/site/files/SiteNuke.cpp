// SITE NUKE and UNNUKE: a directory's uploaders lose what its files earned them, times a
// multiplier, and the directory is deleted or set aside under the nuke prefix; UNNUKE brings it
// back and returns what is left of it. Both report to the client and to nuke.log.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/Credits.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/NukeLedger.h"
#include "server/site/files/SiteDirectorySummary.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

constexpr const char* kNukeDashes =
    " -------------------------------------------------------------------------";
constexpr double kKilobyte = 1024.0;
constexpr double kMegabyte = 1024.0 * 1024.0;

// What tells a nuke from an unnuke.
struct NukeKind {
    bool unnuke;
    const char* help;
    const char* missing;  // multiplier errors: 504, 505, 506
    const char* invalid;
    const char* tooLarge;
    const char* emptyTitle;
    const char* emptyOwnerLine;
    const char* title;
    const char* totalsLine;
    const char* ownerLine;
    const char* emptyLog;
    const char* log;
    const char* done;
};

constexpr NukeKind kNuke{
    false,
    "site.nuke",
    "Missing nuke multiplier.",
    "Invalid nuke multiplier.",
    "Nuke multiplier cannot exceed %d.",
    " Empty DIR Nuke",
    " Nukee: %-16s Penalty: %9.2lfMB  Credit Lost: %9.2fMB",
    " Nuke Completed.",
    " Nukee(s): %-9u Files: %-11.0lf Total kbytes: %-11.2lf",
    " Nukee: %-12s Bytes: %8.2lfMB  Credit Lost: %9.2fMB",
    ": Nuked directory: '%s', with message: '%s', owned by: '%s', containing: (empty), "
    "belonging to: '%s', penalty: %ux %.2lfM",
    ": Nuked directory: '%s', with message: '%s', owned by: '%s', containing: %.0lf files & "
    "%.0lf dirs, belonging to: '%s', penalty: %ux %.2lfM",
    "Nuke command Successful.",
};

constexpr NukeKind kUnnuke{
    true,
    "site.unnuke",
    "Missing unnuke multiplier.",
    "Invalid unnuke multiplier.",
    "Unnuke multiplier cannot exceed %d.",
    " Empty DIR UnNuke",
    " User: %-16s    Bytes: %9.2lfMB  Credit Gain: %9.2fMB",
    " UnNuke Completed.",
    " User(s): %-9u  Files: %-11.0lf Total kbytes: %-11.2lf",
    " User: %-12s  Bytes: %8.2lfMB  Credit Gain: %9.2fMB",
    ": UnNuked directory: '%s', with message: '%s', owned by: '%s', containing: (empty), "
    "belonging to: '%s', restored: %ux %.2lfM",
    ": UnNuked directory: '%s', with message: '%s', owned by: '%s', containing: %.0lf files & "
    "%.0lf dirs, belonging to: '%s', restored: %ux %.2lfM",
    "UnNuke command Successful.",
};

// The multiplier at args[at]: a typed number from 0 up (a negative one would pay the nukees),
// at most nuke_mult_max when that is set. None after answering.
std::optional<uint32_t> ReadMultiplier(SiteSession& s, const Args& args, size_t at,
                                       const NukeKind& kind) {
    if (at >= args.size()) {
        s.Respond(args, kind.missing, "504");
        return std::nullopt;
    }
    int64_t value = 0;
    if (!ReadNumberIn(args[at], 0, std::numeric_limits<uint32_t>::max(), value)) {
        s.Respond(args, kind.invalid, "505");
        return std::nullopt;
    }
    const uint32_t most = s.Server().Config().GetNukeMultMax();
    if (most != 0 && value > most) {
        s.Respond(args, StringUtil::Format(kind.tooLarge, static_cast<int>(most)), "506");
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// Where a nuked directory is kept: its parent, the prefix and its name. None without a prefix.
std::optional<std::string> NukedPath(SiteSession& s, const std::string& full) {
    const std::string prefix = s.Server().Config().GetNukeDirPrefix();
    const std::optional<ParentAndName> parts = SplitDirectory(full);
    if (prefix.empty() || !parts) return std::nullopt;
    return parts->parent + prefix + parts->name + "\\";
}

// The directory owner's name for the replies and the log.
std::string DirectoryOwner(SiteSession& s, const std::string& full) {
    const std::optional<DirectoryRecord> record = s.Server().Files().GetDirectory(full, false);
    return s.OwnerName(record ? std::optional<uint32_t>(record->owner) : std::nullopt);
}

NukeLedger Ledger(SiteSession& s) {
    return NukeLedger(s.Server().MakeDataPath("misc/", "nukes"));
}

struct Nuking {
    const NukeKind& kind;
    std::string shown;    // the directory as typed
    std::string owner;    // the directory's owner
    std::string message;  // the reason
    uint32_t multiplier = 0;
    // A nuke notes here what it took from whom; an unnuke finds here what it may give back,
    // and takes each share off as it does.
    std::vector<NukeShare>* shares = nullptr;
};

// A nuke charges one owner and notes the share; an unnuke pays back at most the share the nuke
// took, and nothing to a user it did not charge. The credits moved, 0 for a user without a record.
int64_t Settle(SiteSession& s, const Nuking& n, const std::string& user, double bytes) {
    const uint64_t whole = static_cast<uint64_t>(bytes);
    std::vector<NukeShare>& shares = *n.shares;
    auto share = shares.end();
    if (n.kind.unnuke) {
        share = std::find_if(shares.begin(), shares.end(), [&user](const NukeShare& sh) {
            return StringUtil::EqualNoCase(sh.user, user);
        });
        if (share == shares.end()) return 0;
    }
    int64_t moved = 0;
    const int64_t now = Clock::NowSeconds();
    const UserStore::Update saved = s.Server().Users().UpdateUser(
        user,
        [&](UserRecord& r) {
            moved = n.kind.unnuke ? Credits::UndoNuke(r, whole, n.multiplier, share->credits,
                                                      share->megabytes, now)
                                  : Credits::ApplyNuke(r, whole, n.multiplier, false, now);
            return true;
        },
        s.ConnectionNumber());
    if (n.kind.unnuke)
        shares.erase(share);
    else if (saved == UserStore::Update::Saved)
        shares.push_back({user, moved, whole / (1024 * 1024)});
    return moved;
}

// The users an unnuke's directory no longer shows (their files went with the nuke) get no
// credits back, but that nuke no longer counts in their statistics.
void RestoreStatistics(SiteSession& s, const Nuking& n) {
    while (!n.shares->empty()) Settle(s, n, n.shares->front().user, 0);
}

// The charges and the nuke.log lines for what the summary found; the report lines go to
// `report`, to be sent with the code of the outcome.
void Charge(SiteSession& s, const Nuking& n, const DirectorySummary& summary,
            std::vector<std::string>& report) {
    const NukeKind& k = n.kind;
    auto line = [&report](std::string text) { report.push_back(std::move(text)); };
    const std::string& who = s.UserName();
    const double emptyKb = s.Server().Config().GetNukeEmptyKb();
    if (summary.bytes / kKilobyte <= emptyKb) {
        const double penalty = s.Server().Config().GetNukeEmptyCharge() * kKilobyte;
        line(k.emptyTitle);
        line(kNukeDashes);
        if (n.owner != kSystemOwner) {
            const int64_t moved = Settle(s, n, n.owner, penalty);
            line(StringUtil::Format(k.emptyOwnerLine, n.owner.c_str(), penalty / kMegabyte,
                                    moved / kKilobyte));
        }
        line(kNukeDashes);
        s.WriteEventLog(
            "nuke.log",
            StringUtil::Format(k.emptyLog, n.shown.c_str(), n.message.c_str(), n.owner.c_str(),
                               n.owner.c_str(), n.multiplier, penalty / kMegabyte),
            who);
        return;
    }
    line(k.title);
    line(kNukeDashes);
    line(StringUtil::Format(k.totalsLine, summary.ownerCount, summary.files,
                            summary.bytes / kKilobyte));
    line(kNukeDashes);
    for (const OwnerSummary& o : summary.owners) {
        if (o.name != kSystemOwner) {
            const int64_t moved = Settle(s, n, o.name, o.bytes);
            line(StringUtil::Format(k.ownerLine, o.name.c_str(), o.bytes / kMegabyte,
                                    moved / kKilobyte));
        }
        s.WriteEventLog(
            "nuke.log",
            StringUtil::Format(k.log, n.shown.c_str(), n.message.c_str(), n.owner.c_str(), o.files,
                               o.directories, o.name.c_str(), n.multiplier, o.bytes / kMegabyte),
            who);
    }
    line(kNukeDashes);
}

// Counts what `full` holds and charges for it; false after answering with `failCode` when the
// directory cannot be read.
bool Account(SiteSession& s, const Args& args, const Nuking& n, const std::string& full,
             const char* failCode, std::vector<std::string>& report) {
    const std::optional<DirectorySummary> summary = SummariseDirectory(s.Server(), full, true);
    if (!summary) {
        s.Respond(args,
                  StringUtil::Format("%s: Unable to get directory information.", n.shown.c_str()),
                  failCode);
        return false;
    }
    Charge(s, n, *summary, report);
    return true;
}

// The steps both share up to the multiplier: the braced name and its translation.
struct Target {
    BracedName braced;
    FsPath path;
    std::string shown;
};
std::optional<Target> ReadTarget(SiteSession& s, const Args& args) {
    Target t;
    if (!ReadBraced(s, args, 2, "No directory was specified", "} not found in directory name.",
                    t.braced))
        return std::nullopt;
    std::optional<FsPath> path = TranslatePath(s, args, t.braced.name);
    if (!path) return std::nullopt;
    t.path = std::move(*path);
    FileUtil::AddTrailingSep(t.path.full);
    t.shown = Shown(t.braced.name);
    return t;
}

}  // namespace

int Nuke(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, kNuke.help);
    const std::optional<Target> t = ReadTarget(s, args);
    if (!t) return 0;
    const std::string& full = t->path.full;
    if (full == t->path.root) {
        s.Respond(args, "Cannot nuke the root directory.", "501");
        return 0;
    }
    const int kind = FileUtil::Kind(full);
    if (kind != 1) {
        s.Respond(args, NoDirectory(kind, t->shown), "503");
        return 0;
    }
    const std::optional<uint32_t> multiplier = ReadMultiplier(s, args, 2 + t->braced.used, kNuke);
    if (!multiplier) return 0;
    std::vector<NukeShare> shares;
    const Nuking n{
        kNuke,       t->shown, DirectoryOwner(s, full), Join(args, 0, 3 + t->braced.used),
        *multiplier, &shares};
    // What is there now is what is charged: a file that arrives after this count goes with the
    // directory uncharged.
    std::vector<std::string> report;
    if (!Account(s, args, n, full, "508", report)) return 0;

    Filesystem& files = s.Server().Files();
    bool done = false;
    const uint32_t mode = s.Server().Config().GetNukeRename();
    if (mode == 0) {
        FileUtil::DeleteEntry(full, false);
        done = FileUtil::Kind(full) == 0;
    } else if (const std::optional<std::string> nuked = NukedPath(s, full)) {
        done = FileUtil::Rename(full, *nuked);
        if (done) {
            files.MoveDirectories(full, *nuked);
            Ledger(s).Add(*nuked, shares);
            if (mode == 1) FileUtil::DeleteEntry(*nuked, true);
        }
    }
    // One code for the whole reply, as clients expect: the report says what was charged
    // either way.
    const char* code = done ? "200" : "509";
    for (const std::string& text : report) s.Replies().Reply(text, code, 1);
    if (!done) {
        s.Respond(args, StringUtil::Format("%s: Nuke command failed.", t->shown.c_str()), code);
        return 0;
    }
    s.Respond(args, kNuke.done, code);
    return 1;
}

int Unnuke(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, kUnnuke.help);
    const std::optional<Target> t = ReadTarget(s, args);
    if (!t) return 0;
    const std::string& full = t->path.full;
    if (FileUtil::Kind(full) != 0) {
        s.Respond(args, StringUtil::Format("%s: Directory exists.", t->shown.c_str()), "503");
        return 0;
    }
    const std::optional<uint32_t> multiplier = ReadMultiplier(s, args, 2 + t->braced.used, kUnnuke);
    if (!multiplier) return 0;
    const std::string message = Join(args, 0, 3 + t->braced.used);
    const std::optional<std::string> nuked = NukedPath(s, full);
    if (!nuked || FileUtil::Kind(*nuked) != 1 || !FileUtil::Rename(*nuked, full)) {
        s.Respond(args, StringUtil::Format("%s: UnNuke command failed.", t->shown.c_str()), "508");
        return 0;
    }
    s.Server().Files().MoveDirectories(*nuked, full);
    std::vector<NukeShare> shares = Ledger(s).Take(*nuked);
    const std::vector<NukeShare> noted = shares;
    const Nuking n{kUnnuke, t->shown, DirectoryOwner(s, full), message, *multiplier, &shares};
    std::vector<std::string> report;
    if (!Account(s, args, n, full, "509", report)) {
        Ledger(s).Add(*nuked, noted);
        return 0;
    }
    RestoreStatistics(s, n);
    for (const std::string& text : report) s.Line(text);
    s.Respond(args, kUnnuke.done, "200");
    return 1;
}

}  // namespace orvex::site
