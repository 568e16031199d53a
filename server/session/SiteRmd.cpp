// MKD and RMD: new directories are recorded with their creator as owner; only the owner (or a
// siteop) may remove one.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/commands/CommandArgs.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex {

int SiteSession::Mkd(const Args& args) {
    if (args.size() < 2) return FtpSession::Mkd(args);
    std::string typed = Join(args);
    FileUtil::StripTrailingSep(typed);
    ScopedMapping mapped(*this, typed);
    std::string created = FileUtil::Resolve(root_, cwd_, mapped.Or(typed));
    if (!IsStorableLeaf(created)) {
        const std::string shown = FileUtil::Slashed(Join(args));
        Respond(args, SetMessage("%s: Unable to create directory.", shown.c_str()), "550");
        return 0;
    }
    return mapped.Mapped() ? FtpSession::Mkd(Args{"MKD", mapped.Path()}) : FtpSession::Mkd(args);
}

void SiteSession::OnCreatedDirectory(const std::string& path) {
    uint32_t uid = 0, gid = 0;
    if (path.empty() || !server_.EntryIds(user_, uid, gid)) return;
    std::string created = path;
    FileUtil::AddTrailingSep(created);
    server_.Files().SetDirectory(created, nullptr, uid, gid, -1, 0, 0, true);
}

int SiteSession::Rmd(const Args& args) {
    if (args.size() < 2) return FtpSession::Rmd(args);
    const std::string typed = Join(args);
    const std::string shown = FileUtil::Slashed(typed);
    std::string full, root;
    if (!ResolveChecked(args, typed, "wn", full, &root)) return 0;
    FileUtil::AddTrailingSep(full);
    if (full == root) {
        Respond(args, "Cannot delete the root directory.", "500");
        return 0;
    }
    Filesystem& files = server_.Files();
    const std::optional<DirectoryRecord> record = files.GetDirectory(full, false);
    if (!MayChange(args, shown, record ? std::optional<uint32_t>(record->owner) : std::nullopt))
        return 0;
    const char* fault = commands::RemoveDirectoryFault(full);
    if (fault) {
        Respond(args, SetMessage(fault, shown.c_str()), "550");
        return 0;
    }
    Respond(args, "RMD command successful.", "250");
    files.DeleteDirectories(full);
    return 1;
}

}  // namespace orvex
