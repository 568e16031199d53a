#include "standalone/Signals.h"

#include <csignal>

#include "engine/RunState.h"

namespace orvex {

namespace {

std::atomic<int> reloadRequested{0};
static_assert(std::atomic<int>::is_always_lock_free, "flags set from signal handlers");

void OnStop(int) {
    Run().stopRequested = 1;
}
void OnHangUp(int) {
    reloadRequested = 1;
}

void Install(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a console read in progress sees the stop at once.
    sa.sa_flags = 0;
    sigaction(sig, &sa, nullptr);
}

}  // namespace

void InstallSignalHandlers() {
    Install(SIGINT, OnStop);
    Install(SIGTERM, OnStop);
    Install(SIGABRT, OnStop);
    Install(SIGHUP, OnHangUp);
    // A file size limit fails the write, as a full disk does, instead of ending the server.
    Install(SIGXFSZ, SIG_IGN);
}

std::atomic<int>& ReloadRequested() {
    return reloadRequested;
}

}  // namespace orvex
