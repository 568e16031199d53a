// QUIT: stop the transfers, give them a few seconds to finish, then end the session.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Quit(const Args& args) {
    StopRunningJobs();
    Respond(args, "Exit.", "221");
    ended_ = true;
    return 1;
}

}  // namespace orvex
