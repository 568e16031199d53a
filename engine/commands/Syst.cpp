// SYST: clients choose their listing parser by this line, and the listings are in Unix form.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Syst(const Args& args) {
    if (!CheckAccess(args[0].c_str(), nullptr, "sx", false)) return 0;
    Respond(args, "UNIX Type: L8", "215");
    return 1;
}

}  // namespace orvex
