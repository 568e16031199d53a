// SITE: the engine has no site commands of its own; servers override this handler.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Site(const Args& args) {
    if (!CheckAccess(args[0].c_str(), nullptr, "tx", false)) return 0;
    Respond(args, "'SITE': command not implemented.", "504");
    return 0;
}

}  // namespace orvex
