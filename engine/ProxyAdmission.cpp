// The PROXY header at the start of a control connection: who may send one, how long it may take,
// and the client's address taken from it.

#include <sys/socket.h>

#include <cstring>

#include "engine/Clock.h"
#include "engine/FtpSession.h"
#include "engine/ProxyHeader.h"
#include "engine/SocketUtil.h"

namespace orvex {

namespace {

// A balancer sends its header with the connection; a client that waits for the greeting sends
// nothing, so in optional mode the wait for a header is short.
constexpr int kOptionalWaitMs = 1000;

void RefuseAtOnce(int fd, const char* text) {
    send(fd, text, strlen(text), MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace

bool FtpSession::TakeProxyHeader(bool clientSpeaksFirst) {
    const EdgeSettings edge = site_.Edge();
    if (edge.proxyMode == ProxyMode::kOff) return true;
    const bool required = edge.proxyMode == ProxyMode::kRequired;
    const bool trusted = edge.MaySendProxyHeader(peerIp_);
    auto refuse = [&](const char* why) {
        site_.LogProgram("MAIN", "Connection refused from %s:%s: %s.", peerIp_.c_str(),
                         peerPort_.c_str(), why);
        site_.Stats().CountPreLoginRefusal(Metrics::PreLoginRefusal::kProxyHeader);
        return false;
    };
    if (required && !trusted) return refuse("not allowed to send a PROXY header");

    const int loginMs = site_.Logins().Limits().loginSeconds * 1000;
    int waitMs = 0;
    if (required) {
        waitMs = loginMs;
    } else if (trusted || clientSpeaksFirst) {
        waitMs = kOptionalWaitMs;
    }
    ProxyHeader header;
    const ProxyRead read =
        ReadProxyHeader(controlFd_, waitMs, Clock::MonotonicMs() + loginMs, header);
    if (read == ProxyRead::kInvalid) return refuse("invalid PROXY header");
    if (read != ProxyRead::kHeader) return required ? refuse("no PROXY header") : true;
    // A header from anyone else is read and ignored, so no client can forge its address.
    if (!trusted || !header.carriesClient) return true;

    if (loginPlace_ &&
        site_.Logins().Move(*loginPlace_, header.sourceIp) != PendingLogins::kAdmitted) {
        RefuseAtOnce(controlFd_, "421 Too many connections from your address.\r\n");
        site_.Stats().CountPreLoginRefusal(Metrics::PreLoginRefusal::kTooManyFromAddress);
        site_.LogProgram("MAIN",
                         "Connection refused from %s:%s: too many connections waiting to log in.",
                         header.sourceIp.c_str(), header.sourcePort.c_str());
        return false;
    }
    if (loginPlace_) loginPlace_ = header.sourceIp;
    relayIp_ = peerIp_;
    peerIp_ = header.sourceIp;
    peerPort_ = header.sourcePort;
    proxyDestination_ = header.destinationIp;
    return true;
}

}  // namespace orvex
