// PWD and XPWD.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Pwd(const Args& args) {
    if (!CheckAccess(args[0].c_str(), nullptr, "px", false)) return 0;
    const std::string shown = FileUtil::Slashed(cwd_);
    Respond(args, SetMessage("\"/%s\" is current directory.", shown.c_str()), "257");
    return 1;
}

}  // namespace orvex
