// SITE DIRINFO, NEW and DISKINFO: what a directory holds and who owns it, the newest
// directories, and the space of the disk a path lies on.

#include <cstdlib>

#include "engine/Clock.h"
#include "engine/FileTimes.h"
#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteDirectorySummary.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

constexpr double kKilobyte = 1024.0;
constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr long kNewDefault = 10;
constexpr long kNewMost = 99;

std::string Cut(std::string text, size_t most) {
    if (text.size() > most) text.resize(most);
    return text;
}

// The typed path as a directory of the engine view; none after answering. `missing` and
// `notDirectory` are the codes of the two refusals.
std::optional<std::string> TranslateDirectory(SiteSession& s, const Args& args, std::string typed,
                                              const char* notDirectoryCode,
                                              const char* missingCode) {
    if (!typed.empty()) FileUtil::AddTrailingSep(typed);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return std::nullopt;
    std::string dir = path->full;
    FileUtil::AddTrailingSep(dir);
    const int kind = FileUtil::Kind(dir);
    if (kind == 1) return dir;
    s.Respond(args, NoDirectory(kind, Shown(typed)), kind == 0 ? missingCode : notDirectoryCode);
    return std::nullopt;
}

}  // namespace

int DirInfo(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.dirinfo");
    bool recursive = false;
    for (size_t i = 2; i < args.size(); ++i) recursive = recursive || args[i] == "-R";
    const std::string typed = Join(args, '-', 2);
    const std::optional<std::string> dir = TranslateDirectory(s, args, typed, "502", "502");
    if (!dir) return 0;
    const std::optional<DirectorySummary> summary = SummariseDirectory(s.Server(), *dir, recursive);
    if (!summary) {
        s.Respond(
            args,
            StringUtil::Format("%s: Unable to get directory information.", Shown(typed).c_str()),
            "503");
        return 0;
    }
    const std::optional<DirectoryRecord> record = s.Server().Files().GetDirectory(*dir, false);
    std::string ratio = "Default";
    if (record && record->ratio == 0) ratio = "Free (leech)";
    if (record && record->ratio > 0) ratio = StringUtil::Format("1:%d", record->ratio);
    const std::string owner = record ? s.OwnerName(record->owner) : std::string();
    const std::string mirror = record && record->mirrorId != 0
                                   ? StringUtil::Format("%d", record->mirrorId)
                                   : std::string("None/Default");
    const int64_t created = FileUtil::CreationTime(*dir);
    const std::string createdText = FtpSite::FormatTime("%a, %B %d, %Y, %I:%M:%S %p %Z", created);

    s.Line(" .-=----------------------------------------------------------------=-.");
    s.Line(" |                       Directory Information                        |");
    s.Line(" |-=----------------------------------------------------------------=-|");
    s.Line(StringUtil::Format(" | Total Files: %-12.0lf      Total Directories: %-10.0lf       |",
                              summary->files, summary->directories));
    s.Line(StringUtil::Format(" | Total Size (Kb): %-12.1lf  Total Users: %-10u             |",
                              summary->bytes / kKilobyte, summary->ownerCount));
    s.Line(StringUtil::Format(" | Mode: %-24s Ratio: %-28s |",
                              recursive ? "Recursive" : "Non-recursive", ratio.c_str()));
    s.Line(StringUtil::Format(" | Owner: %-22s  MirrorID: %-25s |", owner.c_str(), mirror.c_str()));
    s.Line(StringUtil::Format(" | Created: %-58s|", createdText.c_str()));
    s.Line(" |                                                                    |");
    s.Line(" | Owner                        Files        Directories  Size (Kb)   |");
    s.Line(" |----------------------------+------------+------------+-------------|");
    for (const OwnerSummary& o : summary->owners)
        s.Line(StringUtil::Format(" | %-26s | %-10.0lf | %-10.0lf | %-11.1lf |", o.name.c_str(),
                                  o.files, o.directories, o.bytes / kKilobyte));
    s.Line(" `-=----------------------------------------------------------------=-'");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int New(SiteSession& s, const Args& args) {
    long count = kNewDefault;
    size_t at = 2;
    if (args.size() > 2 && StringUtil::IsInteger(args[2])) {
        count = std::min(std::strtol(args[2].c_str(), nullptr, 10), kNewMost);
        at = 3;
    }
    const std::string typed = args.size() > at ? Join(args, 0, at) : "./";
    const std::optional<std::string> dir = TranslateDirectory(s, args, typed, "501", "502");
    if (!dir) return 0;
    s.Line(" ---------------------------------------------------------------------------");
    s.Line("  ## |  Age  | Owner   |Files    Size| Directory Name                       ");
    s.Line(" ----+-------+---------|-------------|--------------------------------------");
    const int64_t now = Clock::NowSeconds();
    long listed = 0;
    for (const auto& node : s.Server().Files().ListDirectories(0, &*dir)) {
        if (listed >= count) break;
        const DirectoryRecord& r = node.data;
        if (FileUtil::Kind(r.path) != 1) continue;
        const std::optional<DirectorySummary> summary =
            SummariseDirectory(s.Server(), r.path, true);
        const std::string size =
            summary && summary->bytes > 0
                ? StringUtil::Format("%4.0lf %7.1lfM", summary->files, summary->bytes / kMegabyte)
                : std::string("=Empty= ");
        const std::string age =
            Cut(SiteSession::FormatDuration(FileUtil::CreationTime(r.path), now), 7);
        std::string base = r.path;
        FileUtil::StripTrailingSep(base);
        ++listed;
        s.Line(StringUtil::Format(" [%02ld] %-7s %-9s %13s %-38s", listed, age.c_str(),
                                  Cut(s.OwnerName(r.owner), 9).c_str(), size.c_str(),
                                  Cut(std::string(FileUtil::AfterLastSep(base)), 38).c_str()));
    }
    s.Line(" ---------------------------------------------------------------------------");
    s.Line("");
    s.Line(" NOTE: This list is ordered by when the directory was added to the ORVEX    ");
    s.Line("       filesystem, which is not necessarily when it was created.            ");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int DiskInfo(SiteSession& s, const Args& args) {
    std::string typed = args.size() > 2 ? Join(args, 0, 2) : ".";
    if (!typed.empty()) FileUtil::AddTrailingSep(typed);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return 0;
    double total = 0, free = 0;
    // The path's own filesystem: a directory may be a mount of its own.
    if (!FileUtil::DiskSpace(path->full, total, free)) {
        s.Respond(
            args,
            StringUtil::Format("Unable to get disk info for path '%s'.", Shown(typed).c_str()),
            "501");
        return 0;
    }
    s.Line(StringUtil::Format(" Total disk space: %12.2lf MB", total / kMegabyte));
    s.Line(StringUtil::Format(" Free disk space : %12.2lf MB", free / kMegabyte));
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

}  // namespace orvex::site
