#include "server/site/files/SiteFsSupport.h"

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex::site {

std::optional<FsPath> TranslatePath(SiteSession& s, const Args& args, const std::string& typed) {
    FsPath out;
    {
        ScopedMapping mapped(s, typed);
        out.root = s.Root();
        out.full = FileUtil::Resolve(out.root, s.CurrentDirectory(), mapped.Or(typed));
    }
    if (!out.full.empty()) return out;
    s.Respond(args, "ERROR: unable to set directory path.", "450", true, true, true);
    return std::nullopt;
}

std::optional<FsPath> TranslateRemovable(SiteSession& s, const Args& args,
                                         const std::string& typed) {
    std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return std::nullopt;
    FileUtil::AddTrailingSep(path->full);
    if (path->full != path->root) return path;
    s.Respond(args, "Cannot delete the root directory.", "501");
    return std::nullopt;
}

std::string NoDirectory(int kind, const std::string& shown) {
    return StringUtil::Format(kind == 0 ? "%s: No such file or directory." : "%s: Not a directory.",
                              shown.c_str());
}

std::string Shown(std::string_view typed) {
    std::string shown = FileUtil::Slashed(typed);
    if (shown.size() > 1) FileUtil::StripTrailingSep(shown);
    return shown;
}

bool ReadBraced(SiteSession& s, const Args& args, size_t first, const char* noName,
                const char* noBrace, BracedName& out) {
    out = ParseBraced(args, first);
    if (out.error == 1) s.Respond(args, noName, "501");
    if (out.error == 2) s.Respond(args, noBrace, "502");
    return out.error == 0;
}

bool HasPattern(std::string_view text) {
    return text.find('*') != std::string_view::npos;
}

std::vector<std::string> Expand(const std::string& path, bool pattern) {
    std::vector<std::string> out;
    std::string whole = path;
    FileUtil::StripTrailingSep(whole);
    const std::string dir = FileUtil::DirName(whole);
    const std::string_view leaf = FileUtil::AfterLastSep(whole);
    if (!pattern || leaf.find('*') == std::string_view::npos) {
        const int kind = FileUtil::Kind(whole);
        if (kind == 0 || FileUtil::IsSymlink(whole)) return out;
        out.push_back(kind == 1 ? whole + "\\" : whole);
        return out;
    }
    std::vector<FileUtil::DirEntry> entries;
    FileUtil::ListDirectory(dir, entries);
    for (const FileUtil::DirEntry& e : entries) {
        if (e.type == FileUtil::EntryType::Link || !StringUtil::WildcardMatch(leaf, e.name))
            continue;
        out.push_back(dir + e.name + (e.type == FileUtil::EntryType::Directory ? "\\" : ""));
    }
    return out;
}

std::optional<ParentAndName> SplitDirectory(std::string_view full) {
    std::string whole(full);
    FileUtil::StripTrailingSep(whole);
    ParentAndName out;
    out.parent = FileUtil::DirName(whole);
    if (out.parent.empty()) return std::nullopt;
    out.name = whole.substr(out.parent.size());
    if (out.name.empty()) return std::nullopt;
    return out;
}

bool CallerIds(SiteSession& s, uint32_t& uid, uint32_t& gid) {
    return s.Server().EntryIds(s.UserName(), uid, gid);
}

std::optional<DirectoryRecord> DirectoryRecordFor(SiteSession& s, const std::string& dir) {
    Filesystem& files = s.Server().Files();
    if (std::optional<DirectoryRecord> record = files.GetDirectory(dir, false)) return record;
    uint32_t uid = 0, gid = 0;
    if (!CallerIds(s, uid, gid) ||
        files.SetDirectory(dir, kUnknownDirectoryMode, uid, gid, -1, 0, 0, false) == 0)
        return std::nullopt;
    return files.GetDirectory(dir, false);
}

std::optional<FileRecord> FileRecordFor(SiteSession& s, const std::string& file) {
    Filesystem& files = s.Server().Files();
    if (std::optional<FileRecord> record = files.GetFile(file)) return record;
    uint32_t uid = 0, gid = 0;
    if (!CallerIds(s, uid, gid) || files.SetFile(file, kUnknownFileMode, uid, gid, -1, 0) == 0)
        return std::nullopt;
    return files.GetFile(file);
}

}  // namespace orvex::site
