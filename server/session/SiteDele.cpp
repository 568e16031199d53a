// DELE: only the owner of a file (or a siteop) may delete it, and the credits its upload earned
// go back.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/Credits.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"

namespace orvex {

int SiteSession::Dele(const Args& args) {
    if (args.size() < 2) return FtpSession::Dele(args);
    const std::string typed = Join(args);
    std::string full;
    if (!ResolveChecked(args, typed, "wo", full)) return 0;
    const std::string shown = FileUtil::Slashed(typed);
    FileInfo info;
    if (!FileUtil::Stat(full, info)) {
        Respond(args, SetMessage("%s: The system cannot find the file specified.", shown.c_str()),
                "550");
        return 0;
    }
    Filesystem& files = server_.Files();
    const std::optional<FileRecord> record = files.GetFile(full);
    std::string owner;
    if (!MayChange(args, shown, record ? std::optional<uint32_t>(record->owner) : std::nullopt,
                   &owner))
        return 0;
    if (!FileUtil::RemoveFile(full)) {
        Respond(args, SetMessage("%s: Unable to delete file.", shown.c_str()), "550");
        return 0;
    }
    // Asked while the file's record still says whether it was free.
    uint64_t charged = 0;
    if (record && !owner.empty()) {
        const int32_t ratio =
            record->earnedRatio >= 0 ? record->earnedRatio : files.EffectiveRatio(full);
        server_.Users().UpdateUser(
            owner,
            [&](UserRecord& r) {
                charged = Credits::TakeBack(r, ratio, info.size);
                return charged > 0;
            },
            ConnectionNumber());
    }
    files.DeleteFileRecord(full);
    if (charged == 0) {
        Respond(args, "DELE command successful.", "250");
    } else {
        Respond(args,
                SetMessage("DELE command successful. (%llu credits removed from file owner)",
                           static_cast<unsigned long long>(charged)),
                "250");
    }
    return 1;
}

}  // namespace orvex
