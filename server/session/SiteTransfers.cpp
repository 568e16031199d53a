// RETR and STOR (APPE and STOU arrive here too): the user's limits of simultaneous transfers
// and the dupe check come before the engine starts the transfer.

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex {

namespace {
constexpr size_t kUploaderNameMax = 63;
}

int SiteSession::Retr(const Args& args) {
    if (args.size() >= 2 && TransferLimitReached(args, kDownload)) return 0;
    return RunMapped(
        args, "RETR", [this](const Args& a) { return FtpSession::Retr(a); }, false);
}

int SiteSession::Stor(const Args& args, int storeMode) {
    if (args.size() < 2) return FtpSession::Stor(args, storeMode);
    if (TransferLimitReached(args, kUpload)) return 0;
    std::string typed = Join(args);
    FileUtil::StripTrailingSep(typed);
    ScopedMapping mapped(*this, typed);
    const std::string full = FileUtil::Resolve(root_, cwd_, mapped.Or(typed));
    if (!full.empty()) {
        if (!IsStorableLeaf(full)) {
            // A name the site refuses is refused for good (RFC 959's "file name not allowed").
            const std::string shown = FileUtil::Slashed(typed);
            Respond(args,
                    SetMessage("%s: The system cannot write to the file specified.", shown.c_str()),
                    "553");
            return 0;
        }
        const std::optional<DupeRecord> dupe =
            ResumesOwnUpload(full, storeMode) ? std::nullopt : server_.Files().FindDupe(full);
        if (dupe) {
            std::string uploader;
            if (!server_.Accounts().UserNameOf(static_cast<int32_t>(dupe->uploader), uploader,
                                               kUploaderNameMax + 1))
                uploader.clear();
            const std::string name(FileUtil::AfterLastSep(full));
            const std::string ago = FormatDuration(dupe->time, Clock::NowSeconds());
            Respond(args,
                    SetMessage(" %s: file was uploaded by %s (%s ago).", name.c_str(),
                               uploader.c_str(), ago.c_str()),
                    "553", true, false, false, 1);
            Respond(args, "This file looks like a dupe.", "553");
            return 0;
        }
    }
    return mapped.Mapped() ? FtpSession::Stor(Args{"STOR", mapped.Path()}, storeMode)
                           : FtpSession::Stor(args, storeMode);
}

bool SiteSession::ResumesOwnUpload(const std::string& full, int storeMode) {
    const bool resumes = storeMode == 2 || (storeMode == 0 && restartOffset_ > 0);
    if (!resumes || FileUtil::Kind(full) != 2) return false;
    const std::optional<FileRecord> file = server_.Files().GetFile(full);
    return file && StringUtil::EqualNoCase(OwnerName(file->owner), user_);
}

}  // namespace orvex
