// NOOP.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Noop(const Args& args) {
    Respond(args, "NOOP command successful.", "200");
    return 1;
}

}  // namespace orvex
