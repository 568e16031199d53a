// CWD (also CDUP and the X forms) and PWD: the site view moves with the client, the engine view
// follows it into and out of directory links.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex {

namespace {
constexpr size_t kMaxSiteDirectory = 256;
}  // namespace

int SiteSession::Cwd(const Args& args) {
    if (args.size() < 2) return FtpSession::Cwd(args);
    std::string typed = Join(args);
    FileUtil::AddTrailingSep(typed);
    ScopedMapping mapped(*this, typed);
    const std::string& request = mapped.Or(typed);
    if (!CheckAccess(args[0].c_str(), &request, "cx", false)) return 0;

    const std::string full = FileUtil::Resolve(root_, cwd_, request);
    const int kind = FileUtil::Kind(full);
    if (kind != 1) {
        std::string shown = typed;
        FileUtil::StripTrailingSep(shown);
        shown = FileUtil::Slashed(shown);
        Respond(args,
                SetMessage(kind == 2 ? "%s: Not a directory." : "%s: No such file or directory.",
                           shown.c_str()),
                "550");
        return 0;
    }
    std::string engineDir;
    if (mapped.Mapped()) {
        engineDir = mapped.Path();
    } else {
        std::string_view rest;
        if (!FileUtil::SkipPrefixNoCase(full, root_, rest)) {
            Respond(args, "Unable to set CWD.", "530");
            return 0;
        }
        engineDir = std::string(rest);
    }
    std::string_view siteRest;
    const std::string siteFull = FileUtil::Resolve(siteRoot_, siteDir_, typed);
    if (!FileUtil::SkipPrefixNoCase(siteFull, siteRoot_, siteRest)) {
        Respond(args, "Unable to set CWD.", "530");
        return 0;
    }
    if (siteRest.size() > kMaxSiteDirectory) {
        Respond(args, SetMessage("CWD cannot exceed %u characters.", unsigned(kMaxSiteDirectory)),
                "531");
        return 0;
    }
    // The engine root stays where the mapping put it: the session is now inside that link.
    mapped.Keep();
    cwd_ = engineDir;
    siteDir_ = std::string(siteRest);

    NoteInbox(args, "250");
    Respond(args, "CWD command successful.", "250");
    return 1;
}

int SiteSession::Pwd(const Args& args) {
    if (!CheckAccess(args[0].c_str(), nullptr, "px", false)) return 0;
    const std::string shown = FileUtil::Slashed(siteDir_);
    Respond(args, SetMessage("\"/%s\" is current directory.", shown.c_str()), "257");
    return 1;
}

}  // namespace orvex
