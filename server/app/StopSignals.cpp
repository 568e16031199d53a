#include "server/app/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "engine/RunState.h"
#include "engine/ThreadUtil.h"

namespace orvex::StopSignals {

namespace {

std::atomic<int> routeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

void OnStop(int) {
    const int saved = errno;
    const int fd = routeFd.load();
    if (fd >= 0) {
        const char byte = 's';
        // A full pipe already holds a pending stop.
        [[maybe_unused]] ssize_t n = write(fd, &byte, 1);
    } else {
        Run().stopRequested = 1;
    }
    errno = saved;
}

}  // namespace

bool Install() {
    bool ok = true;
    for (int sig : {SIGINT, SIGTERM, SIGABRT, SIGQUIT}) {
        struct sigaction sa {};
        sa.sa_handler = OnStop;
        sigemptyset(&sa.sa_mask);
        // No SA_RESTART: a console read in progress sees the stop at once.
        sa.sa_flags = 0;
        ok = sigaction(sig, &sa, nullptr) == 0 && ok;
    }
    // A file size limit fails the write, as a full disk does, instead of ending the server.
    ok = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && ok;
    return ok;
}

bool RouteToThread(std::function<void()> onStop) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    const int readFd = fds[0];
    const bool started = ThreadUtil::StartThread([readFd, onStop = std::move(onStop)]() {
        for (;;) {
            pollfd p{readFd, POLLIN, 0};
            if (poll(&p, 1, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            char buf[16];
            if (read(readFd, buf, sizeof buf) > 0) onStop();
        }
    });
    if (!started) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    routeFd = fds[1];
    return true;
}

}  // namespace orvex::StopSignals
