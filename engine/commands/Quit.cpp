// QUIT: stop the transfers, give them a few seconds to finish, then end the session.

#include "engine/Clock.h"
#include "engine/FtpSession.h"

namespace orvex {

namespace {
constexpr int kWaitSteps = 100;
constexpr uint32_t kWaitStepMs = 50;
}  // namespace

int FtpSession::Quit(const Args& args) {
    abort_ = true;
    for (int i = 0; i < kWaitSteps && RunningJobs() > 0; ++i) Clock::SleepMs(kWaitStepMs);
    Respond(args, "Exit.", "221");
    ended_ = true;
    return 1;
}

}  // namespace orvex
