// SMNT is not offered: a session's root is fixed at login.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Smnt(const Args& args) {
    Respond(args, "'SMNT': command not implemented.", "504");
    return 0;
}

}  // namespace orvex
