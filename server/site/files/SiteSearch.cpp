// SITE SEARCH: directories (and with -f files) whose names match a mask, below a start
// directory, as far as the user may list them. Symbolic links are never followed; with -l the
// directory links of the site are.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/LinksStore.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsArguments.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

constexpr unsigned kSearchDepth = 16;

class SearchWalk {
  public:
    SearchWalk(SiteSession& s, const SearchOptions& options, const std::string& mask,
               const std::string& start)
        : s_(s), options_(options), mask_(mask), start_(start) {}

    // The directory as the search names it: a real path, or with -l a path of the site tree.
    void Walk(const std::string& dir, unsigned depth) {
        if (depth >= kSearchDepth) {
            s_.Line(StringUtil::Format(options_.links
                                           ? " WARNING: Max directory depth reached "
                                             "(%u) --possible circular links."
                                           : " WARNING: Max directory depth reached (%u).",
                                       kSearchDepth));
            return;
        }
        const std::string real = RealPath(dir);
        if (!s_.Server().CheckPermission(s_.UserName(), real, "lvx")) {
            s_.Line(StringUtil::Format(" %s: Permission denied.", Relative(dir).c_str()));
            return;
        }
        std::vector<FileUtil::DirEntry> entries;
        FileUtil::ListDirectory(real, entries);
        for (const FileUtil::DirEntry& e : entries) {
            if (found_ >= options_.maximum) return;
            const bool matches = StringUtil::WildcardMatch(mask_, e.name);
            if (e.type == FileUtil::EntryType::Directory) {
                const std::string sub = dir + e.name + "\\";
                if (matches) Found(Relative(sub) + "/");
                Walk(sub, depth + 1);
            } else if (options_.files && matches) {
                Found(Relative(dir + e.name));
            }
        }
    }

    // With -l, the real directory of a place that a directory link covers.
    std::string RealPath(const std::string& dir) const {
        if (!options_.links) return dir;
        const std::optional<DirectoryLink> link = s_.Server().Links().FindLink(dir);
        if (!link) return dir;
        return link->realDir + dir.substr(link->linkDir.size());
    }

  private:
    void Found(const std::string& shown) {
        s_.Line(" " + shown);
        ++found_;
    }

    std::string Relative(const std::string& path) const {
        std::string_view rest;
        if (!FileUtil::SkipPrefixNoCase(path, start_, rest)) return "";
        return Shown(rest);
    }

    SiteSession& s_;
    const SearchOptions& options_;
    const std::string& mask_;
    const std::string& start_;
    uint32_t found_ = 0;
};

}  // namespace

int Search(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.search");
    const SearchOptions options = ParseSearchOptions(args);
    size_t at = options.next;
    std::string typed = "./";
    if (at < args.size() && !args[at].empty() && args[at][0] == '{') {
        BracedName braced;
        if (!ReadBraced(s, args, at, "No directory was specified.",
                        "} not found in directory name.", braced))
            return 0;
        typed = braced.name;
        at += braced.used;
    }
    if (at >= args.size()) {
        s.Respond(args, "No search string specified.", "503");
        return 0;
    }
    const std::string mask = Join(args, 0, at);
    std::string start;
    if (options.links) {
        start = FileUtil::Resolve(s.SiteRoot(), s.SiteDirectory(), typed);
        // A link on the disk leads out of the site: as if nothing were there.
        if (start.empty()) {
            s.Respond(args, NoDirectory(0, Shown(typed)), "504");
            return 0;
        }
    } else {
        const std::optional<FsPath> path = TranslatePath(s, args, typed);
        if (!path) return 0;
        start = path->full;
    }
    FileUtil::AddTrailingSep(start);
    SearchWalk walk(s, options, mask, start);
    const int kind = FileUtil::Kind(walk.RealPath(start));
    if (kind != 1) {
        s.Respond(args, NoDirectory(kind, Shown(typed)), "504");
        return 0;
    }
    walk.Walk(start, 0);
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

}  // namespace orvex::site
