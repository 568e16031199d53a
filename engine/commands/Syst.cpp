// SYST.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Syst(const Args& args) {
    if (!CheckAccess(args[0].c_str(), nullptr, "sx", false)) return 0;
    Respond(args, "WINDOWS", "215");
    return 1;
}

}  // namespace orvex
