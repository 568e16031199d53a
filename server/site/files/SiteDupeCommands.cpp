// SITE DUPE and UNDUPE: searching the dupe log and taking names out of it.

#include "engine/FtpSite.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"
#include "server/session/SiteSession.h"
#include "server/site/files/FileCommands.h"
#include "server/site/files/SiteFsArguments.h"
#include "server/site/files/SiteFsSupport.h"

namespace orvex::site {

namespace {

constexpr size_t kUploaderNameMax = 63;

}  // namespace

int Dupe(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.dupe");
    const DupeQuery q = ParseDupeQuery(args);
    if (q.errorCode == "501") {
        s.Respond(args, "Invalid \"-max\" parameter.", "501");
        return 0;
    }
    if (q.errorCode == "502") {
        s.Respond(args, "The \"-from\" parameter must be in the form \"mmddyy\" (Ex. 020903).",
                  "502");
        return 0;
    }
    if (q.errorCode == "503") {
        s.Respond(args, "The \"-to\" parameter must be in the form \"mmddyy\" (Ex. 020903).",
                  "503");
        return 0;
    }
    if (q.masks.empty()) {
        s.Respond(args, "No search filenames were specified.", "505");
        return 0;
    }
    const DupeSearch found = s.Server().Files().SearchDupes(q.masks, q.from, q.to, q.maximum);
    for (const DupeRecord& r : found.records) {
        std::string uploader;
        if (!s.Server().Accounts().UserNameOf(static_cast<int32_t>(r.uploader), uploader,
                                              kUploaderNameMax + 1))
            uploader.clear();
        const std::string when = FtpSite::FormatTime("%m/%d/%Y %H:%M:%S", r.time);
        s.Line(StringUtil::Format(" %s: Added by %s on %s", r.name.c_str(), uploader.c_str(),
                                  when.c_str()));
    }
    s.Line("");
    s.Respond(args,
              StringUtil::Format("%zu of %zu dupes listed.", found.records.size(), found.matching),
              "200");
    return 1;
}

int UnDupe(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.undupe");
    const std::optional<FsPath> path = TranslatePath(s, args, Join(args, 0, 2));
    if (!path) return 0;
    const int removed = s.Server().Files().RemoveDupes(path->full);
    s.Respond(args, StringUtil::Format("%d %s deleted.", removed, removed == 1 ? "dupe" : "dupes"),
              "200");
    return 1;
}

}  // namespace orvex::site
