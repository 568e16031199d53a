// OPTS is not offered.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Opts(const Args& args) {
    Respond(args, "OPTS command not implemented.", "502");
    return 0;
}

}  // namespace orvex
