// The plain listener thread and the start of client threads.

#include "engine/Listener.h"

#include <cerrno>
#include <exception>

#include "engine/Clock.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/ThreadUtil.h"

namespace orvex {

namespace {

constexpr int kAcceptWaitSeconds = 3;
constexpr uint32_t kAcceptErrorPauseMs = 50;

std::unique_ptr<FtpSession> MakeSession(const ListenerArgs& args, int fd) {
    try {
        if (args.makeSession) return args.makeSession(fd);
        return std::make_unique<FtpSession>(fd, *args.site, nullptr, true);
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace

void RunPlainListener(ListenerArgs args) {
    Run().listenerRunning = 1;
    while (!Run().stopRequested && args.site) {
        const int ready = SocketUtil::WaitReadable(args.listenFd, kAcceptWaitSeconds, 0);
        if (ready <= 0) {
            if (ready < 0) Clock::SleepMs(kAcceptErrorPauseMs);
            continue;
        }
        int fd = SocketUtil::Accept(args.listenFd);
        if (fd == -1) {
            // Out of descriptors and similar: let the system breathe instead of spinning.
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
                Clock::SleepMs(kAcceptErrorPauseMs);
            }
            continue;
        }
        std::unique_ptr<FtpSession> session = MakeSession(args, fd);
        if (!session) {
            SocketUtil::Close(fd);
            continue;
        }
        args.site->LogProgram("MAIN", "Connection established from %s:%s -> %s (%u).",
                              session->PeerIp().c_str(), session->PeerPort().c_str(),
                              session->PeerHost().c_str(), static_cast<unsigned>(fd));
        args.site->LogAccess(AccessLogEntry{session->LocalIp(), session->LocalPort(),
                                            session->PeerIp(), session->PeerPort(),
                                            session->UserName(), "CONNECT", "", "", ""});
        StartClientThread(std::move(session));
    }
    Run().listenerRunning = 0;
}

bool StartClientThread(std::unique_ptr<FtpSession> session) {
    if (!session) return false;
    FtpSite& site = session->GetSite();
    int fd = session->ControlSocket();
    // The thread owns the session from here on; it is destroyed at the end of the thread.
    FtpSession* raw = session.release();
    const bool started = ThreadUtil::StartThread([raw]() {
        std::unique_ptr<FtpSession> owned(raw);
        owned->RunClient();
    });
    if (started) return true;
    site.LogProgram("MAIN", "WARNING: Unable to create a new client thread.");
    SocketUtil::Close(fd);
    delete raw;
    return false;
}

}  // namespace orvex
