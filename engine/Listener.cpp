// The plain listener thread and the start of client threads.

#include "engine/Listener.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>

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

// Takes a place among the connections waiting to log in, or answers 421 at once and closes.
// `key` is the address the place is held for: none yet for a balancer that names its client in
// a PROXY header.
bool Admit(FtpSite& site, int& fd, std::string& key) {
    std::string ip, port;
    SocketUtil::PeerAddress(fd, ip, port);
    const EdgeSettings edge = site.Edge();
    const bool relayed = edge.proxyMode != ProxyMode::kOff && edge.MaySendProxyHeader(ip);
    key = relayed ? std::string() : ip;
    const PendingLogins::Verdict verdict = site.Logins().Enter(key);
    if (verdict == PendingLogins::kAdmitted) return true;
    site.Stats().CountPreLoginRefusal(verdict == PendingLogins::kAddressFull
                                          ? Metrics::PreLoginRefusal::kTooManyFromAddress
                                          : Metrics::PreLoginRefusal::kTooManyConnections);
    const char* text = verdict == PendingLogins::kAddressFull
                           ? "421 Too many connections from your address.\r\n"
                           : "421 Too many connections.\r\n";
    // Never blocks the accept loop: a fresh socket takes one short line at once.
    send(fd, text, strlen(text), MSG_DONTWAIT | MSG_NOSIGNAL);
    site.LogProgram("MAIN",
                    "Connection refused from %s:%s: too many connections waiting to log in.",
                    ip.c_str(), port.c_str());
    SocketUtil::Close(fd);
    return false;
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
    std::string placeKey;
    if (!Admit(*args.site, fd, placeKey)) return nullptr;
    std::unique_ptr<FtpSession> session = MakeSession(args, fd);
    if (!session) {
        args.site->Logins().Leave(placeKey);
        SocketUtil::Close(fd);
        return nullptr;
    }
    session->HoldLoginPlace(placeKey);
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
        StartClientThread(std::move(session), args);
    }
    Run().listenerRunning = 0;
}

bool StartClientThread(std::unique_ptr<FtpSession> session, const ListenerArgs& args) {
    return StartSessionThread(
        std::move(session),
        [](std::unique_ptr<FtpSession> owned) {
            // Counted from here so that shutdown waits for a header still arriving as well.
            ++Run().liveClients;
            if (owned->TakeProxyHeader(false)) {
                owned->LookUpNames();
                owned->Announce(false);
                owned->RunClient();
            } else {
                owned->CloseUnserved();
            }
            owned.reset();
            DecrementIfPositive(Run().liveClients);
        },
        args);
}

}  // namespace orvex
