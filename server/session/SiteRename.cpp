// RNFR and RNTO: only the owner of an entry (or a siteop) may rename it, and its records move
// with it.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex {

int SiteSession::Rnfr(const Args& args) {
    if (args.size() < 2) return FtpSession::Rnfr(args);
    const std::string typed = Join(args);
    const std::string shown = FileUtil::Slashed(typed);
    std::string full;
    if (!ResolveChecked(args, typed, "wa", full)) return 0;
    std::optional<uint32_t> owner;
    switch (FileUtil::Kind(full)) {
        case 0:
            Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
            return 0;
        case 1:
            FileUtil::AddTrailingSep(full);
            if (auto dir = server_.Files().GetDirectory(full, false)) owner = dir->owner;
            break;
        default:
            FileUtil::StripTrailingSep(full);
            if (auto file = server_.Files().GetFile(full)) owner = file->owner;
            break;
    }
    if (!MayChange(args, shown, owner)) return 0;
    renameSource_ = full;
    Respond(args, "File exists, ready for destination name.", "350");
    return 1;
}

int SiteSession::Rnto(const Args& args) {
    if (args.size() < 2) return FtpSession::Rnto(args);
    const std::string typed = Join(args);
    ScopedMapping mapped(*this, typed);
    std::string target = FileUtil::Resolve(root_, cwd_, mapped.Or(typed));
    if (renameSource_ && !IsStorableLeaf(target)) {
        renameSource_.reset();
        const std::string shown = FileUtil::Slashed(typed);
        Respond(args, SetMessage("%s: Unable to rename file.", shown.c_str()), "550");
        return 0;
    }
    return mapped.Mapped() ? FtpSession::Rnto(Args{"RNTO", mapped.Path()}) : FtpSession::Rnto(args);
}

void SiteSession::OnRenamed(const std::string& renamedFrom, const std::string& renamed) {
    if (renamedFrom.empty() || renamed.empty()) return;
    std::string source = renamedFrom;
    std::string target = renamed;
    Filesystem& files = server_.Files();
    if (FileUtil::Kind(target) == 1) {
        FileUtil::AddTrailingSep(source);
        FileUtil::AddTrailingSep(target);
        files.MoveDirectories(source, target);
    } else {
        FileUtil::StripTrailingSep(source);
        FileUtil::StripTrailingSep(target);
        files.MoveFileRecord(source, target);
    }
}

}  // namespace orvex
