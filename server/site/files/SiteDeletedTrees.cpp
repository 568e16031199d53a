// SITE DELTREE, RESTREE and PURGETREE: a directory tree is set aside as "DELETED-" and its
// name in the same parent, brought back from there, or removed for good. Its records follow
// every move; a purge marks only what is really gone.

#include <limits>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

constexpr std::string_view kDeletedPrefix = "DELETED-";

bool IsDeletedName(std::string_view name) {
    return name.substr(0, kDeletedPrefix.size()) == kDeletedPrefix;
}

// A deleted tree: where it lies now and where it would be restored to (both end in '\').
struct DeletedTree {
    std::string path;
    std::string restored;
};

// Every deleted tree below `root`, deleted trees inside deleted trees included, each before
// those inside it.
std::vector<DeletedTree> FindDeletedTrees(const std::string& root) {
    std::vector<DeletedTree> found;
    FileUtil::WalkTree(
        root,
        [&](const std::string& dir, int, std::vector<FileUtil::DirEntry>& entries) {
            for (const FileUtil::DirEntry& e : entries) {
                if (e.type != FileUtil::EntryType::Directory || !IsDeletedName(e.name)) continue;
                found.push_back(
                    {dir + e.name + "\\", dir + e.name.substr(kDeletedPrefix.size()) + "\\"});
            }
            return true;
        },
        std::numeric_limits<int>::max());
    return found;
}

// Moves a tree and its records; false when the rename fails (an existing target included).
bool MoveTree(SiteSession& s, const std::string& from, const std::string& to) {
    if (!FileUtil::Rename(from, to)) return false;
    s.Server().Files().MoveDirectories(from, to);
    return true;
}

// Removes a tree; whether anything went. Records are marked only for what is really gone.
bool RemoveDeletedTree(SiteSession& s, const std::string& path) {
    const int removed = FileUtil::DeleteEntry(path, false);
    if (removed > 0) s.Server().Files().CheckTree(path);
    return removed > 0;
}

// `path` below `root`, with slashes and without a trailing separator.
std::string BelowRoot(const std::string& path, const std::string& root) {
    std::string_view rest;
    if (!FileUtil::SkipPrefixNoCase(path, root, rest)) rest = path;
    return Shown(rest);
}

const char* Trees(unsigned count) {
    return count == 1 ? "tree" : "trees";
}

// The engine root as a path of the current directory translates it.
std::optional<FsPath> CurrentRoot(SiteSession& s, const Args& args) {
    return TranslatePath(s, args, ".");
}

}  // namespace

int DelTree(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.deltree");
    const std::string typed = Join(args, 0, 2);
    const std::optional<FsPath> path = TranslateRemovable(s, args, typed);
    if (!path) return 0;
    const bool pattern = HasPattern(typed);
    unsigned count = 0;
    for (const std::string& target : Expand(path->full, pattern)) {
        const std::optional<ParentAndName> parts = SplitDirectory(target);
        if (FileUtil::Kind(target) != 1 || !parts || IsDeletedName(parts->name)) continue;
        if (MoveTree(s, target, parts->parent + std::string(kDeletedPrefix) + parts->name + "\\"))
            ++count;
    }
    if (pattern) {
        s.Respond(args, StringUtil::Format("Deleted %u directory %s.", count, Trees(count)), "200");
    } else if (count == 1) {
        s.Respond(args, StringUtil::Format("Directory tree (%s) deleted.", Shown(typed).c_str()),
                  "200");
    } else {
        s.Respond(args,
                  StringUtil::Format("Unable to delete directory tree '%s'.", Shown(typed).c_str()),
                  "502");
    }
    return 1;
}

int ResTree(SiteSession& s, const Args& args) {
    const std::optional<FsPath> top = CurrentRoot(s, args);
    if (!top) return 0;
    if (args.size() < 3) {
        s.SendHelpLines("site.restree.top");
        for (const DeletedTree& tree : FindDeletedTrees(top->root))
            s.Line(" /" + BelowRoot(tree.restored, top->root));
        s.SendHelpLines("site.restree.bottom");
        s.Respond(args, "Command Successful.", "200");
        return 1;
    }
    const std::string typed = Join(args, 0, 2);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return 0;
    if (!HasPattern(typed)) {
        std::string full = path->full;
        FileUtil::AddTrailingSep(full);
        const std::optional<ParentAndName> parts = SplitDirectory(full);
        const std::string deleted =
            parts ? parts->parent + std::string(kDeletedPrefix) + parts->name + "\\" : "";
        if (!parts || FileUtil::Kind(deleted) != 1 || !MoveTree(s, deleted, full)) {
            s.Respond(args,
                      StringUtil::Format("Directory tree '%s' has not been deleted.",
                                         Shown(typed).c_str()),
                      "501");
            return 1;
        }
        s.Respond(args, StringUtil::Format("Directory tree (%s) restored.", Shown(typed).c_str()),
                  "200");
        return 1;
    }
    unsigned count = 0;
    std::vector<DeletedTree> trees = FindDeletedTrees(path->root);
    // Inner trees first, so that each one's place is still where the walk found it.
    for (auto it = trees.rbegin(); it != trees.rend(); ++it) {
        std::string restored = it->restored;
        FileUtil::StripTrailingSep(restored);
        if (StringUtil::WildcardMatch(path->full, restored) && MoveTree(s, it->path, it->restored))
            ++count;
    }
    s.Respond(args, StringUtil::Format("Restored %u directory %s.", count, Trees(count)), "200");
    return 1;
}

int PurgeTree(SiteSession& s, const Args& args) {
    const std::string typed = args.size() < 3 ? "*" : Join(args, 0, 2);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return 0;
    unsigned count = 0;
    auto purged = [&](const std::string& tree) {
        s.Line(StringUtil::Format(" Directory tree (%s) purged.",
                                  BelowRoot(tree, path->root).c_str()));
        ++count;
    };
    if (!HasPattern(typed)) {
        std::string full = path->full;
        FileUtil::AddTrailingSep(full);
        const std::optional<ParentAndName> parts = SplitDirectory(full);
        if (parts) {
            const std::string deleted =
                parts->parent + std::string(kDeletedPrefix) + parts->name + "\\";
            if (FileUtil::Kind(deleted) == 1 && RemoveDeletedTree(s, deleted)) purged(full);
        }
    } else {
        for (const DeletedTree& tree : FindDeletedTrees(path->root)) {
            std::string restored = tree.restored;
            FileUtil::StripTrailingSep(restored);
            // A tree inside one purged before it is gone already.
            if (!StringUtil::WildcardMatch(path->full, restored) ||
                FileUtil::Kind(tree.path) != 1 || !RemoveDeletedTree(s, tree.path))
                continue;
            purged(tree.restored);
        }
        s.Line("");
    }
    s.Respond(args, StringUtil::Format("Command successful.  (%u Directory Trees Purged)", count),
              "200");
    return 1;
}

}  // namespace orvex::site
