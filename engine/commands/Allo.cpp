// ALLO: storage is never reserved ahead, so the request is accepted and ignored.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Allo(const Args& args) {
    Respond(args, "ALLO command ignored.", "202");
    return 1;
}

}  // namespace orvex
