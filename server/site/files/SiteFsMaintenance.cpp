// SITE FSCK, FSSYNC and FSINFO: the check of the records against the disk, the write-back,
// and when each last ran; plus WIPE and COPY, which change the tree in one step.

#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

// 1 started, 2 already running, 0 failed to start: the replies of FSCK and FSSYNC.
int AnswerStart(SiteSession& s, const Args& args, int started, const char* done,
                const char* running, const char* failed) {
    if (started == 0) {
        s.Respond(args, failed, "501", true, true, true);
        return 0;
    }
    s.Respond(args, started == 1 ? done : running, "200");
    return 1;
}

}  // namespace

int Fsck(SiteSession& s, const Args& args) {
    return AnswerStart(
        s, args, s.Server().Files().StartCheck(), "Filesystem check successfully started.",
        "Filesystem check is currently in progress.", "Unable to start the filesystem check.");
}

int FsSync(SiteSession& s, const Args& args) {
    return AnswerStart(s, args, s.Server().Files().StartSync(),
                       "Filesystem synchronization successfully started.",
                       "Filesystem synchronization is currently in progress.",
                       "Unable to start filesystem synchronization.");
}

int FsInfo(SiteSession& s, const Args& args) {
    const Filesystem& files = s.Server().Files();
    const char* format = "%a %b %d %H:%M:%S %Y";
    s.Line(" +-----------------[ FileSystem Information ]-----------------+");
    s.Line(StringUtil::Format(" | Last Synch: %-24s                       |",
                              FtpSite::FormatTime(format, files.LastSyncTime()).c_str()));
    s.Line(StringUtil::Format(" | Last Check: %-24s                       |",
                              FtpSite::FormatTime(format, files.LastCheckTime()).c_str()));
    s.Line(" +------------------------------------------------------------+");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Wipe(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.wipe");
    const std::string typed = Join(args, 0, 2);
    const std::optional<FsPath> path = TranslateRemovable(s, args, typed);
    if (!path) return 0;
    const std::string& full = path->full;
    Filesystem& files = s.Server().Files();
    int removed = 0;
    if (HasPattern(typed)) {
        for (const std::string& target : Expand(path->full, true)) {
            if (target.back() == '\\' || !FileUtil::RemoveFile(target)) continue;
            ++removed;
            files.DeleteFileRecord(target);
        }
    } else {
        // Removed first, then the records of what is really gone: whatever could not be
        // removed keeps its owners.
        std::string target = full;
        FileUtil::StripTrailingSep(target);
        const bool directory = FileUtil::Kind(target) == 1;
        removed = FileUtil::DeleteEntry(target, false);
        if (removed > 0 && directory)
            files.CheckTree(full);
        else if (removed > 0)
            files.DeleteFileRecord(target);
    }
    s.Respond(args, StringUtil::Format("%d files/directories deleted.", removed), "200");
    return 1;
}

int Copy(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.copy");
    BracedName braced;
    if (!ReadBraced(s, args, 2, "No source was specified", "} not found in source.", braced))
        return 0;
    const size_t destinationAt = 2 + braced.used;
    if (destinationAt >= args.size()) {
        s.Respond(args, "Missing destination.", "503");
        return 0;
    }
    // Within the site tree as the client sees it, never through directory links.
    std::string source = FileUtil::Resolve(s.SiteRoot(), s.SiteDirectory(), braced.name);
    FileUtil::StripTrailingSep(source);
    const std::string destination =
        FileUtil::Resolve(s.SiteRoot(), s.SiteDirectory(), Join(args, 0, destinationAt));
    const int copied = FileUtil::CopyTree(source, destination);
    s.Respond(args, copied > 0 ? "Files successfully copied." : "No files copied.", "200");
    return 1;
}

}  // namespace orvex::site
