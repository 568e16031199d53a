// SITE CHMOD and CHOWN: the modes and owners of the virtual filesystem, on one entry, on the
// matches of a pattern, or with -R on everything below. The disk is walked first without any
// lock; the records are changed afterwards, each under the filesystem's own lock.

#include <limits>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsArguments.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

bool IsDirectoryPath(const std::string& entry) {
    return !entry.empty() && entry.back() == '\\';
}

// Every directory (with '\') and file below `dir`; links are no entries of the site.
std::vector<std::string> EntriesBelow(const std::string& dir) {
    std::vector<std::string> out;
    FileUtil::WalkTree(
        dir,
        [&out](const std::string& path, int, std::vector<FileUtil::DirEntry>& entries) {
            for (const FileUtil::DirEntry& e : entries) {
                if (e.type == FileUtil::EntryType::Directory)
                    out.push_back(path + e.name + "\\");
                else if (e.type == FileUtil::EntryType::File)
                    out.push_back(path + e.name);
            }
            return true;
        },
        std::numeric_limits<int>::max());
    return out;
}

// Applies `change` to each target and, with `recursive`, to everything below the directories
// among them.
template <typename Change>
void ApplyToTree(const std::vector<std::string>& targets, bool recursive, Change&& change) {
    for (const std::string& target : targets) {
        change(target);
        if (!recursive || !IsDirectoryPath(target)) continue;
        for (const std::string& entry : EntriesBelow(target)) change(entry);
    }
}

// The "-R" of CHMOD and CHOWN at args[2]: the index of the next argument, or none after
// answering an unknown option.
std::optional<size_t> ReadRecursive(SiteSession& s, const Args& args, bool& recursive) {
    recursive = false;
    if (args[2].empty() || args[2][0] != '-') return 2;
    if (!StringUtil::EqualNoCase(args[2], "-R")) {
        s.Respond(args, StringUtil::Format("%s: Invalid option.", args[2].c_str()), "501");
        return std::nullopt;
    }
    recursive = true;
    return 3;
}

enum class Outcome { Done, Refused, Failed };

// CHMOD of one entry: its owner or a siteop may set the mode of a recorded entry; only a
// siteop may give an entry without a record its first one.
Outcome SetMode(Filesystem& files, const std::string& entry, const std::string& mode, uint32_t uid,
                uint32_t gid, bool siteop) {
    if (IsDirectoryPath(entry)) {
        std::optional<DirectoryRecord> record = files.GetDirectory(entry, false);
        if (!record) {
            if (!siteop) return Outcome::Refused;
            return files.SetDirectory(entry, mode.c_str(), uid, gid, -1, 0, 0, true) == 1
                       ? Outcome::Done
                       : Outcome::Failed;
        }
        if (!siteop && record->owner != uid) return Outcome::Refused;
        record->permissions = mode;
        return files.UpdateDirectory(*record, entry) == 1 ? Outcome::Done : Outcome::Failed;
    }
    const std::optional<FileRecord> record = files.GetFile(entry);
    if (!record) {
        if (!siteop) return Outcome::Refused;
        return files.SetFile(entry, mode.c_str(), uid, gid, -1, 0) == 1 ? Outcome::Done
                                                                        : Outcome::Failed;
    }
    if (!siteop && record->owner != uid) return Outcome::Refused;
    return files.SetFile(entry, mode.c_str(), record->owner, record->group,
                         static_cast<int64_t>(record->size), record->free) == 1
               ? Outcome::Done
               : Outcome::Failed;
}

// CHOWN of one entry: the ids given replace the record's; an entry without a record gets one
// with the caller's ids for the parts not given.
void SetOwner(Filesystem& files, const std::string& entry, std::optional<uint32_t> uid,
              std::optional<uint32_t> gid, uint32_t callerUid, uint32_t callerGid) {
    if (IsDirectoryPath(entry)) {
        std::optional<DirectoryRecord> record = files.GetDirectory(entry, false);
        if (!record) {
            files.SetDirectory(entry, kUnknownDirectoryMode, uid.value_or(callerUid),
                               gid.value_or(callerGid), -1, 0, 0, true);
            return;
        }
        record->owner = uid.value_or(record->owner);
        record->group = gid.value_or(record->group);
        files.UpdateDirectory(*record, entry);
        return;
    }
    const std::optional<FileRecord> record = files.GetFile(entry);
    if (!record) {
        files.SetFile(entry, kUnknownFileMode, uid.value_or(callerUid), gid.value_or(callerGid), -1,
                      0);
        return;
    }
    files.SetFile(entry, record->permissions.c_str(), uid.value_or(record->owner),
                  gid.value_or(record->group), static_cast<int64_t>(record->size), record->free);
}

}  // namespace

int Chmod(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.chmod");
    bool recursive = false;
    const std::optional<size_t> at = ReadRecursive(s, args, recursive);
    if (!at) return 0;
    const bool siteop = s.HasFlag("1", s.UserName());
    if (recursive && !siteop) {
        s.Respond(args, kNoAccess, "550");
        return 0;
    }
    if (args.size() < *at + 2) return s.SendHelp(args, "site.chmod");
    const std::string& mask = args[*at];
    const std::optional<std::string> mode = ModeFromOctal(mask);
    if (!mode) {
        s.Respond(args,
                  StringUtil::Format("%s: Invalid mask (must be [0-7][0-7][0-7]).", mask.c_str()),
                  "502");
        return 0;
    }
    uint32_t uid = 0, gid = 0;
    if (!CallerIds(s, uid, gid)) {
        s.Respond(args, "Unable to get user information.", "503");
        return 0;
    }
    const std::string typed = Join(args, 0, *at + 1);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return 0;
    Filesystem& files = s.Server().Files();
    const bool pattern = HasPattern(typed);
    if (recursive || pattern) {
        ApplyToTree(Expand(path->full, pattern), recursive, [&](const std::string& entry) {
            SetMode(files, entry, *mode, uid, gid, siteop);
        });
        s.Respond(args, "CHMOD command successful.", "200");
        return 1;
    }
    const std::vector<std::string> target = Expand(path->full, false);
    if (target.empty()) {
        s.Respond(args, StringUtil::Format("%s: No such file or directory.", Shown(typed).c_str()),
                  "505");
        return 0;
    }
    switch (SetMode(files, target.front(), *mode, uid, gid, siteop)) {
        case Outcome::Done:
            s.Respond(args, "CHMOD command successful.", "200");
            return 1;
        case Outcome::Refused:
            s.Respond(args, kNoAccess, "550");
            return 0;
        case Outcome::Failed:
            break;
    }
    s.Respond(args, StringUtil::Format("Unable to set mode for '%s'.", Shown(typed).c_str()),
              "504");
    return 0;
}

int Chown(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.chown");
    bool recursive = false;
    const std::optional<size_t> at = ReadRecursive(s, args, recursive);
    if (!at) return 0;
    if (args.size() < *at + 2) return s.SendHelp(args, "site.chown");
    uint32_t callerUid = 0, callerGid = 0;
    if (!CallerIds(s, callerUid, callerGid)) {
        s.Respond(args, "Unable to get user information.", "502");
        return 0;
    }
    const OwnerArgument owner = SplitOwnerArgument(args[*at]);
    std::optional<uint32_t> uid, gid;
    if (!owner.user.empty()) {
        const int32_t id = s.Server().Accounts().UserIdOf(owner.user);
        if (id <= 0) {
            s.Respond(args, StringUtil::Format("%s: Invalid user.", owner.user.c_str()), "503");
            return 0;
        }
        uid = static_cast<uint32_t>(id);
    }
    if (!owner.group.empty()) {
        // Asked by name first: the id lookup answers a default id for names that are no group.
        GroupStore& groups = s.Server().Groups();
        const int32_t id = groups.FindGroup(owner.group) ? groups.GroupIdOf(owner.group) : -1;
        if (id <= 0) {
            s.Respond(args, StringUtil::Format("%s: Invalid group.", owner.group.c_str()), "504");
            return 0;
        }
        gid = static_cast<uint32_t>(id);
    }
    const std::string typed = Join(args, 0, *at + 1);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return 0;
    const std::vector<std::string> targets = Expand(path->full, HasPattern(typed));
    if (targets.empty()) {
        s.Respond(args, StringUtil::Format("%s: No such file or directory.", Shown(typed).c_str()),
                  "505");
        return 0;
    }
    Filesystem& files = s.Server().Files();
    ApplyToTree(targets, recursive, [&](const std::string& entry) {
        SetOwner(files, entry, uid, gid, callerUid, callerGid);
    });
    s.Respond(args, "CHOWN command successful.", "200");
    return 1;
}

}  // namespace orvex::site
