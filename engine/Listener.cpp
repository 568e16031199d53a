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

std::unique_ptr<FtpSession> AcceptSession(const ListenerArgs& args) {
    const int ready = SocketUtil::WaitReadable(args.listenFd, args.acceptWaitSeconds, 0);
    if (ready <= 0) {
        if (ready < 0) Clock::SleepMs(kAcceptErrorPauseMs);
        return nullptr;
    }
    int fd = SocketUtil::Accept(args.listenFd);
    if (fd == -1) {
        // Out of descriptors and similar: let the system breathe instead of spinning.
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
            Clock::SleepMs(kAcceptErrorPauseMs);
        }
        return nullptr;
    }
    std::unique_ptr<FtpSession> session = MakeSession(args, fd);
    if (!session) SocketUtil::Close(fd);
    return session;
}

bool StartSessionThread(std::unique_ptr<FtpSession> session, SessionBody body,
                        const ListenerArgs& args) {
    if (!session) return false;
    FtpSite& site = session->GetSite();
    int fd = session->ControlSocket();
    // The thread owns the session from here on; std::function needs a copyable callable, so it
    // travels as a pointer.
    FtpSession* raw = session.release();
    const bool started = ThreadUtil::StartThread(
        [raw, body = std::move(body)]() { body(std::unique_ptr<FtpSession>(raw)); });
    if (started) return true;
    site.LogProgram("MAIN", "%s", args.threadFailureText);
    SocketUtil::Close(fd);
    delete raw;
    return false;
}

void RunPlainListener(ListenerArgs args) {
    Run().listenerRunning = 1;
    while (!Run().stopRequested && args.site) {
        std::unique_ptr<FtpSession> session = AcceptSession(args);
        if (!session) continue;
        args.site->LogProgram("MAIN", "Connection established from %s:%s -> %s (%u).",
                              session->PeerIp().c_str(), session->PeerPort().c_str(),
                              session->PeerHost().c_str(),
                              static_cast<unsigned>(session->ControlSocket()));
        args.site->LogAccess(AccessLogEntry{session->LocalIp(), session->LocalPort(),
                                            session->PeerIp(), session->PeerPort(),
                                            session->UserName(), "CONNECT", "", "", ""});
        StartClientThread(std::move(session), args);
    }
    Run().listenerRunning = 0;
}

bool StartClientThread(std::unique_ptr<FtpSession> session, const ListenerArgs& args) {
    return StartSessionThread(
        std::move(session), [](std::unique_ptr<FtpSession> owned) { owned->RunClient(); }, args);
}

}  // namespace orvex
