// SITE FRATIO, DUPEENABLE and DIRMIRROR: the ratio of a directory or file, a directory's dupe
// switch and its mirror id. An entry without a record gets one only when a value is set.

#include <cstdlib>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/remote/MirrorStore.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

// [number] path: the number when one comes first and a path follows it.
struct ValueAndPath {
    std::optional<long> value;
    std::string typed;
};
ValueAndPath ReadValueAndPath(const Args& args) {
    ValueAndPath out;
    size_t at = 2;
    if (args.size() > 3 && StringUtil::IsInteger(args[2])) {
        out.value = std::strtol(args[2].c_str(), nullptr, 10);
        at = 3;
    }
    out.typed = Join(args, 0, at);
    return out;
}

int Answer(SiteSession& s, const Args& args, const char* format, const std::string& shown,
           const char* code = "200") {
    s.Respond(args, StringUtil::Format(format, shown.c_str()), code);
    return std::string_view(code) == "200" ? 1 : 0;
}

int DirectoryRatio(SiteSession& s, const Args& args, const std::string& dir,
                   const std::string& shown, std::optional<long> ratio) {
    if (!ratio) {
        const std::optional<DirectoryRecord> record = s.Server().Files().GetDirectory(dir, false);
        const int32_t r = record ? record->ratio : -1;
        if (r < 0) return Answer(s, args, "%s: Directory is using default ratio.", shown);
        if (r == 0) return Answer(s, args, "%s: Directory is free (leech).", shown);
        s.Respond(args, StringUtil::Format("%s: Directory is using ratio 1:%d.", shown.c_str(), r),
                  "200");
        return 1;
    }
    if (*ratio < -1 || *ratio > 9) {
        s.Respond(args, "Directory ratio must be between -1 and 9.", "501");
        return 0;
    }
    std::optional<DirectoryRecord> record = DirectoryRecordFor(s, dir);
    if (!record) return Answer(s, args, "%s: Unable to get directory information.", shown, "502");
    record->ratio = static_cast<int32_t>(*ratio);
    s.Server().Files().UpdateDirectory(*record, dir);
    if (*ratio < 0) return Answer(s, args, "%s: Directory ratio changed to default.", shown);
    if (*ratio == 0) return Answer(s, args, "%s: Directory ratio changed to free (leech).", shown);
    s.Respond(args,
              StringUtil::Format("%s: Directory ratio changed to 1:%d.", shown.c_str(),
                                 static_cast<int>(*ratio)),
              "200");
    return 1;
}

int FileRatio(SiteSession& s, const Args& args, const std::string& file, const std::string& shown,
              std::optional<long> ratio) {
    Filesystem& files = s.Server().Files();
    if (!ratio) {
        const std::optional<FileRecord> record = files.GetFile(file);
        return Answer(
            s, args,
            record && record->free ? "%s: File is free." : "%s: File is using default ratio.",
            shown);
    }
    if (*ratio != 0 && *ratio != -1) {
        s.Respond(args, "File ratio can only be 0 or -1.", "503");
        return 0;
    }
    const std::optional<FileRecord> record = FileRecordFor(s, file);
    if (!record) return Answer(s, args, "%s: Unable to get file information.", shown, "504");
    files.SetFile(file, record->permissions.c_str(), record->owner, record->group,
                  static_cast<int64_t>(record->size), *ratio == 0 ? 1 : 0);
    return Answer(
        s, args,
        *ratio == 0 ? "%s: File ratio changed to free." : "%s: File ratio changed to default.",
        shown);
}

}  // namespace

int FRatio(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.fratio");
    const ValueAndPath v = ReadValueAndPath(args);
    const std::optional<FsPath> path = TranslatePath(s, args, v.typed);
    if (!path) return 0;
    const std::string shown = Shown(v.typed);
    std::string full = path->full;
    FileUtil::StripTrailingSep(full);
    switch (FileUtil::Kind(full)) {
        case 0:
            return Answer(s, args, "%s: No such file or directory.", shown, "505");
        case 1:
            return DirectoryRatio(s, args, full + "\\", shown, v.value);
        default:
            return FileRatio(s, args, full, shown, v.value);
    }
}

int DupeEnable(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.dupeenable");
    const std::string typed = Join(args, 0, 2);
    const std::optional<FsPath> path = TranslatePath(s, args, typed);
    if (!path) return 0;
    const std::string shown = Shown(typed);
    std::string dir = path->full;
    FileUtil::AddTrailingSep(dir);
    const int kind = FileUtil::Kind(dir);
    if (kind != 1) {
        s.Respond(args, NoDirectory(kind, shown), "501");
        return 0;
    }
    std::optional<DirectoryRecord> record = DirectoryRecordFor(s, dir);
    if (!record) return Answer(s, args, "%s: Unable to get directory information.", shown, "502");
    const bool wasOff = record->dupeDisable != 0;
    record->dupeDisable = wasOff ? 0 : 1;
    s.Server().Files().UpdateDirectory(*record, dir);
    return Answer(s, args, wasOff ? "%s: Dupe checking enabled." : "%s: Dupe checking disabled.",
                  shown);
}

int DirMirror(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.dirmirror");
    const ValueAndPath v = ReadValueAndPath(args);
    if (v.value && *v.value != 0 &&
        (*v.value < 0 || *v.value > INT32_MAX ||
         !s.Server().Mirrors().HasMirrorId(static_cast<int32_t>(*v.value)))) {
        s.Respond(args, "Invalid mirror ID.", "501");
        return 0;
    }
    const std::optional<FsPath> path = TranslatePath(s, args, v.typed);
    if (!path) return 0;
    const std::string shown = Shown(v.typed);
    std::string dir = path->full;
    FileUtil::AddTrailingSep(dir);
    if (FileUtil::Kind(dir) != 1)
        return Answer(s, args, "%s: Not a valid directory.", shown, "502");
    Filesystem& files = s.Server().Files();
    if (!v.value) {
        const std::optional<DirectoryRecord> record = files.GetDirectory(dir, false);
        const int32_t id = record ? record->mirrorId : 0;
        if (id == 0)
            return Answer(s, args, "%s: Directory is using none/default mirror ID.", shown);
        s.Respond(args,
                  StringUtil::Format("%s: Directory is using mirror ID %u.", shown.c_str(),
                                     static_cast<unsigned>(id)),
                  "200");
        return 1;
    }
    std::optional<DirectoryRecord> record = DirectoryRecordFor(s, dir);
    if (!record) return Answer(s, args, "%s: Unable to get directory information.", shown, "503");
    record->mirrorId = static_cast<int32_t>(*v.value);
    files.UpdateDirectory(*record, dir);
    if (*v.value == 0)
        return Answer(s, args, "%s: Directory mirror ID changed to none/default.", shown);
    s.Respond(args,
              StringUtil::Format("%s: Directory mirror ID changed to %u.", shown.c_str(),
                                 static_cast<unsigned>(*v.value)),
              "200");
    return 1;
}

}  // namespace orvex::site
