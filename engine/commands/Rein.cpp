// REIN is not offered: a client logs in again with USER instead.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Rein(const Args& args) {
    Respond(args, "'REIN': command not implemented.", "504");
    return 0;
}

}  // namespace orvex
