// ACCT is not offered.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Acct(const Args& args) {
    Respond(args, "ACCT command not implemented.", "502");
    return 0;
}

}  // namespace orvex
