#include "server/remote/RemoteConnection.h"

#include <sys/socket.h>

#include "engine/Clock.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/commands/PortArgument.h"

namespace orvex {

namespace {

// Login lines are formatted into 80 characters: longer names are cut.
constexpr size_t kLoginLineMax = 79;
constexpr unsigned kHandshakeMs = 5000;

}  // namespace

RemoteConnection::RemoteConnection(int fd, unsigned encMode)
    : fd_(fd), encMode_(encMode), channel_(fd) {}

RemoteConnection::~RemoteConnection() {
    // A killed connection's socket is already cut: no close_notify can get out.
    if (channel_.IsTls() && !dead_) channel_.ShutdownTls();
    channel_.FreeTls();
    int fd = fd_;
    SocketUtil::Close(fd);
}

bool RemoteConnection::Send(std::string_view line, bool urgent) {
    return !dead_ && reader_.SendCommand(line, urgent);
}

RemoteReply RemoteConnection::Read(int seconds) {
    RemoteReply r;
    if (dead_) return r;
    reader_.SetTimeout(seconds);
    // A TLS record that never ends would hold a read inside the library past every deadline.
    if (channel_.IsTls()) SocketUtil::SetRecvTimeout(fd_, static_cast<unsigned>(seconds) * 1000);
    r.lines = reader_.ReadResponse(r.code);
    if (channel_.IsTls()) SocketUtil::SetRecvTimeout(fd_, 0);
    // The rest of an over-long or late reply would be read as the answer to the next command.
    if (reader_.Overrun()) Kill();
    if (dead_) r.code.clear();
    return r;
}

RemoteReply RemoteConnection::Exchange(std::string_view line, int seconds, bool urgent) {
    if (!Send(line, urgent)) return {};
    return Read(seconds);
}

bool RemoteConnection::HasUnreadInput() {
    return WaitInput(0) != 0;
}

int RemoteConnection::WaitInput(int ms) {
    if (dead_) return -1;
    return channel_.WaitInput(ms);
}

bool RemoteConnection::StartTls() {
    SocketUtil::SetRecvTimeout(fd_, kHandshakeMs);
    SslHandle tls;
    int reason = 0;
    const bool ok = SslLayer::Connect(fd_, reason, encMode_, tls);
    SocketUtil::SetRecvTimeout(fd_, 0);
    if (!ok) {
        SslLayer::Free(tls);
        return false;
    }
    channel_.SetTls(tls);
    channel_.UseTls(true);
    return true;
}

void RemoteConnection::Kill() {
    dead_ = true;
    shutdown(fd_, SHUT_RDWR);
}

RemoteConnectionPtr LoginRemote(const std::string& address, uint32_t port, const std::string& user,
                                const std::string& password, unsigned encMode, int seconds,
                                const std::string& sourceIp) {
    const int fd = SocketUtil::ConnectHost(address, std::to_string(port), seconds, sourceIp);
    if (fd < 0) return nullptr;
    SocketUtil::SetNoDelay(fd);
    SocketUtil::SetKeepAlive(fd);
    auto conn = std::make_shared<RemoteConnection>(fd, encMode);
    // Any greeting will do, even a refusal: the login below decides.
    if (!conn->Read(seconds).Complete()) return nullptr;
    if (encMode != 0) {
        if (!conn->Exchange("AUTH SSL", seconds).Begins('2') || !conn->StartTls()) return nullptr;
        if (!conn->Exchange("PBSZ 0", seconds).Complete()) return nullptr;
    }
    const std::string userLine = ("USER " + user).substr(0, kLoginLineMax);
    if (!conn->Exchange(userLine, seconds).Taken()) return nullptr;
    const std::string passLine = ("PASS " + password).substr(0, kLoginLineMax);
    if (!conn->Exchange(passLine, seconds).Begins('2')) return nullptr;
    conn->loginTime = conn->lastUse = Clock::NowSeconds();
    return conn;
}

std::optional<PassiveAddress> ParsePassiveReply(std::string_view text) {
    std::string_view inner = text;
    const size_t open = text.rfind('(');
    if (open != std::string_view::npos) {
        inner = text.substr(open + 1);
        const size_t close = inner.find(')');
        if (close == std::string_view::npos) return std::nullopt;
        inner = inner.substr(0, close);
    } else {
        // "227 Entering Passive Mode 10,0,0,1,4,1." without parentheses.
        const size_t last = inner.find_last_of("0123456789");
        if (last == std::string_view::npos) return std::nullopt;
        inner = inner.substr(0, last + 1);
    }
    PassiveAddress a;
    if (!commands::ParsePortArgument(inner, a.ip, a.port)) return std::nullopt;
    return a;
}

}  // namespace orvex
