// ABOR: running transfers stop at their next look at the abort flag.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Abor(const Args& args) {
    abort_ = true;
    Respond(args, "ABOR command successful.", "225");
    return 1;
}

}  // namespace orvex
