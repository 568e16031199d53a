// The implicit-TLS listener: every accepted connection handshakes in its own thread, which then
// becomes the connection's client thread.

#include <cerrno>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "engine/Clock.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/Listener.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/StringUtil.h"
#include "engine/ThreadUtil.h"

namespace orvex {

namespace {

constexpr int kAcceptWaitSeconds = 3;
constexpr uint32_t kAcceptErrorPauseMs = 50;
// How long a connected client may stay silent before its handshake is given up.
constexpr int kHandshakeWaitSeconds = 30;
constexpr size_t kPassPhraseMax = 31;

// Fetched once for the life of the listener: a key made later serves this port after a restart.
struct KeyMaterial {
    std::string key;
    std::string cert;
    std::string pass;
};

std::unique_ptr<FtpSession> MakeSession(const ListenerArgs& args, int fd) {
    try {
        if (args.makeSession) return args.makeSession(fd);
        return std::make_unique<FtpSession>(fd, *args.site, nullptr, true);
    } catch (const std::exception&) {
        return nullptr;
    }
}

void LogPeer(FtpSession& s, const char* fmt, int fd) {
    s.GetSite().LogProgram("MAIN", fmt, s.PeerIp().c_str(), s.PeerPort().c_str(),
                           s.PeerHost().c_str(), static_cast<unsigned>(fd));
}

// The connection's thread: handshake first, then the ordinary client thread body.
void HandshakeAndServe(std::unique_ptr<FtpSession> session,
                       std::shared_ptr<const KeyMaterial> material) {
    // Counted from here so that shutdown waits for a handshake in progress as well.
    ++Run().liveClients;
    const int fd = session->ControlSocket();
    SslHandle h;
    int reason = 0;
    if (!SslLayer::AcceptControlBounded(fd, material->key, material->pass, material->cert, h,
                                        reason, kHandshakeWaitSeconds, &Run().stopRequested)) {
        LogPeer(*session, "SSL negotiation failed from %s:%s -> %s (%u).", fd);
        int closing = fd;
        SocketUtil::Close(closing);
        session.reset();
        DecrementIfPositive(Run().liveClients);
        return;
    }
    session->AttachTls(h);
    LogPeer(*session, "SSL connection established from %s:%s -> %s (%u).", fd);
    session->GetSite().LogAccess(AccessLogEntry{session->LocalIp(), session->LocalPort(),
                                                session->PeerIp(), session->PeerPort(),
                                                session->UserName(), "CONNECTSSL", "", "", ""});
    session->RunClient();
    session.reset();
    DecrementIfPositive(Run().liveClients);
}

}  // namespace

void RunSslListener(ListenerArgs args) {
    Run().sslListenerRunning = 1;
    std::optional<std::string> key, cert;
    if (args.site) {
        key = args.site->GetPrivateKeyPem();
        cert = args.site->GetCertificatePem();
    }
    if (!key || !cert) {
        if (args.site) args.site->LogProgram("MAIN", "WARNING: unable to initialize the SSL information.");
        Run().sslListenerRunning = 0;
        return;
    }
    auto material = std::make_shared<KeyMaterial>();
    material->key = std::move(*key);
    material->cert = std::move(*cert);
    args.site->GetKeyPassPhrase(material->pass);
    StringUtil::Truncate(material->pass, kPassPhraseMax);
    std::shared_ptr<const KeyMaterial> shared = material;

    while (!Run().stopRequested) {
        const int ready = SocketUtil::WaitReadable(args.listenFd, kAcceptWaitSeconds, 0);
        if (ready <= 0) {
            if (ready < 0) Clock::SleepMs(kAcceptErrorPauseMs);
            continue;
        }
        int fd = SocketUtil::Accept(args.listenFd);
        if (fd == -1) {
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
        // std::function needs a copyable callable: the thread takes the session over by pointer.
        FtpSession* raw = session.release();
        const bool started = ThreadUtil::StartThread([raw, shared]() {
            HandshakeAndServe(std::unique_ptr<FtpSession>(raw), shared);
        });
        if (!started) {
            args.site->LogProgram("MAIN", "WARNING: Unable to create a new client thread.");
            SocketUtil::Close(fd);
            delete raw;
        }
    }
    Run().sslListenerRunning = 0;
}

}  // namespace orvex
