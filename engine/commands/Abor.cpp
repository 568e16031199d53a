// ABOR: running transfers stop at their next look at the abort flag; their 426 or 226 comes
// before the ABOR's own reply, in the order clients expect.

#include "engine/Clock.h"
#include "engine/FtpSession.h"

namespace orvex {

namespace {
constexpr int kWaitSteps = 100;
constexpr uint32_t kWaitStepMs = 50;
}  // namespace

void FtpSession::StopRunningJobs() {
    abort_ = true;
    for (int i = 0; i < kWaitSteps && RunningJobs() > 0; ++i) Clock::SleepMs(kWaitStepMs);
}

int FtpSession::Abor(const Args& args) {
    StopRunningJobs();
    Respond(args, "ABOR command successful.", "225");
    return 1;
}

}  // namespace orvex
