// SITE LINK, LINKS and RMLINK: directory links, which show a directory from elsewhere on disk
// at a place in the site tree.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/LinksStore.h"
#include "server/fs/RecordFormat.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

// A place in the site tree from a name typed for it: against the site root and directory. Empty
// when a link on the disk would lead it out of the site.
std::string LinkPlace(SiteSession& s, const std::string& typed) {
    std::string place = FileUtil::Resolve(s.SiteRoot(), s.SiteDirectory(), typed);
    if (!place.empty()) FileUtil::AddTrailingSep(place);
    return place;
}

}  // namespace

int Link(SiteSession& s, const Args& args) {
    if (args.size() < 4) return s.SendHelp(args, "site.link");
    BracedName braced;
    if (!ReadBraced(s, args, 2, "No target directory was specified",
                    "} not found in directory name.", braced))
        return 0;
    const std::string place = LinkPlace(s, braced.name);
    if (place.empty()) {
        s.Respond(args, "Unable to create link.", "505");
        return 0;
    }
    const size_t sourceAt = 2 + braced.used;
    if (sourceAt >= args.size()) {
        s.Respond(args, "Missing source directory.", "503");
        return 0;
    }
    std::string typed = Join(args, 0, sourceAt);
    std::string source;
    if (typed.rfind("-A", 0) == 0) {
        typed.erase(0, 2);
        while (!typed.empty() && typed.front() == ' ') typed.erase(0, 1);
        source = RecordFormat::NormaliseStoredPath(typed);
    } else {
        const std::optional<FsPath> path = TranslatePath(s, args, typed);
        if (!path) return 0;
        source = path->full;
        FileUtil::AddTrailingSep(source);
    }
    if (typed.empty() || FileUtil::Kind(source) != 1) {
        s.Respond(args, StringUtil::Format("%s: Invalid source directory.", typed.c_str()), "504");
        return 0;
    }
    const std::string shown = Shown(braced.name);
    switch (s.Server().Links().AddLink(place, source)) {
        case 1:
            s.Respond(args, StringUtil::Format("Link (%s) successfully created.", shown.c_str()),
                      "200");
            return 1;
        case 2:
            s.Respond(args, StringUtil::Format("Link '%s' already exists.", shown.c_str()), "506");
            return 0;
        default:
            s.Respond(args, "Unable to create link.", "505");
            return 0;
    }
}

int Links(SiteSession& s, const Args& args) {
    s.Line(" .------------------------------------------------------------------------.");
    s.Line(" | LinkName                       DirectoryPath                           |");
    s.Line(" |------------------------------+-----------------------------------------|");
    unsigned shown = 0;
    for (const auto& node : s.Server().Links().ListLinks()) {
        std::string_view below;
        if (!FileUtil::SkipPrefixNoCase(node.data.linkDir, s.SiteRoot(), below)) continue;
        // The real directory as it is stored, trailing separator and all.
        s.Line(StringUtil::Format(" | /%-27s | %-39s |", Shown(below).c_str(),
                                  FileUtil::Slashed(node.data.realDir).c_str()));
        ++shown;
    }
    s.Line(" |------------------------------+-----------------------------------------|");
    s.Line(StringUtil::Format(
        " | %3u Total links                                                        |", shown));
    s.Line(" `------------------------------------------------------------------------'");
    s.Respond(args, "Command successful.", "200");
    return 1;
}

int RmLink(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.rmlink");
    const std::string typed = Join(args, 0, 2);
    if (s.Server().Links().RemoveLink(LinkPlace(s, typed)) == 1) {
        s.Respond(args, StringUtil::Format("Link (%s) deleted.", typed.c_str()), "200");
        return 1;
    }
    s.Respond(args, StringUtil::Format("Link '%s' does not exist.", typed.c_str()), "501");
    return 0;
}

}  // namespace orvex::site
