// The implicit-TLS listener: every accepted connection handshakes in its own thread, which then
// becomes the connection's client thread.

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

// The whole handshake, from the connection on, must be done within this time.
constexpr int kHandshakeWaitSeconds = 30;
constexpr size_t kPassPhraseMax = 31;

// Fetched once for the life of the listener: a key made later serves this port after a restart.
struct KeyMaterial {
    std::string key;
    std::string cert;
    std::string pass;
};

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
    // The balancer's header comes before the client's TLS hello.
    if (!session->TakeProxyHeader(true)) {
        session->CloseUnserved();
        session.reset();
        DecrementIfPositive(Run().liveClients);
        return;
    }
    session->LookUpNames();
    SslHandle h;
    int reason = 0;
    const bool shaken =
        SslLayer::AcceptControlBounded(fd, material->key, material->pass, material->cert, h, reason,
                                       kHandshakeWaitSeconds, &Run().stopRequested);
    session->GetSite().Stats().CountTlsHandshake(shaken);
    if (!shaken) {
        LogPeer(*session, "SSL negotiation failed from %s:%s -> %s (%u).", fd);
        session->CloseUnserved();
        session.reset();
        DecrementIfPositive(Run().liveClients);
        return;
    }
    session->AttachTls(h);
    session->Announce(true);
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
        if (args.site)
            args.site->LogProgram("MAIN", "WARNING: unable to initialize the SSL information.");
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
        std::unique_ptr<FtpSession> session = AcceptSession(args);
        if (!session) continue;
        StartSessionThread(
            std::move(session),
            [shared](std::unique_ptr<FtpSession> owned) {
                HandshakeAndServe(std::move(owned), shared);
            },
            args);
    }
    Run().sslListenerRunning = 0;
}

}  // namespace orvex
