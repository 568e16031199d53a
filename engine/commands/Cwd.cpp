// CWD, XCWD, CDUP and XCUP.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"

namespace orvex {

namespace {
constexpr size_t kMaxCwdLength = 256;
}

int FtpSession::Cwd(const Args& args) {
    if (args.size() < 2) {
        Respond(args, "CWD command successful.", "250");
        return 1;
    }
    std::string request = Join(args);
    FileUtil::AddTrailingSep(request);
    if (!CheckAccess(args[0].c_str(), &request, "cx", false)) return 0;

    // Against an empty root the result is the new directory relative to the session's root.
    std::string relative = FileUtil::Resolve("", cwd_, request);
    if (relative.size() > kMaxCwdLength) {
        Respond(args, "Unable to set CWD.", "531");
        return 0;
    }
    if (!relative.empty() && relative.back() != '\\') relative += '\\';

    const std::string absolute = root_ + relative;
    // A link out of the root is no directory of this session's.
    const int kind = FileUtil::StaysUnder(root_, absolute) ? FileUtil::Kind(absolute) : 0;
    if (kind == 1) {
        cwd_ = relative;
        Respond(args, "CWD command successful.", "250");
        return 1;
    }
    std::string shown = relative;
    FileUtil::StripTrailingSep(shown);
    shown = FileUtil::Slashed(shown);
    Respond(args,
            kind == 0 ? SetMessage("/%s: No such file or directory.", shown.c_str())
                      : SetMessage("/%s: Not a directory.", shown.c_str()),
            "550");
    return 0;
}

int FtpSession::Cdup(const Args& /*args*/) {
    return Cwd(Args{"CWD", ".."});
}

}  // namespace orvex
