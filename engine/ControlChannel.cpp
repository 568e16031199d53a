#include <poll.h>

#include <cerrno>

#include "engine/Clock.h"
#include "engine/ReplyBuilder.h"
#include "engine/SocketUtil.h"

namespace orvex {

namespace {

constexpr int kShutdownLockTries = 100;  // about one second

// poll() for input on one socket, restarting after signals. The lock is never held here.
int PollReadable(int fd, int ms) {
    uint32_t start = Clock::NowMs();
    for (;;) {
        int left = ms;
        if (ms > 0) {
            uint32_t spent = Clock::ElapsedMs(start, Clock::NowMs());
            left = spent >= static_cast<uint32_t>(ms) ? 0 : ms - static_cast<int>(spent);
        }
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r;
        // Hang-up and errors count as ready: the following read reports them.
        return 1;
    }
}

}  // namespace

void ControlChannel::SetTls(const SslHandle& h) {
    if (!h.Open()) return;
    std::lock_guard<std::mutex> g(tlsLock_);
    tls_ = h;
}

bool ControlChannel::Usable() const {
    return encrypted_ ? tls_.Open() : fd_ != -1;
}

bool ControlChannel::WriteAll(const char* data, size_t len, bool urgent) {
    if (!Usable()) return false;
    // Writers share the lock in both modes so that lines of different threads never interleave.
    std::lock_guard<std::mutex> g(tlsLock_);
    if (encrypted_) {
        if (!tls_.Open()) return false;
        return SslLayer::Write(tls_, data, len) == static_cast<long>(len);
    }
    return SocketUtil::SendAll(fd_, data, len, urgent) == static_cast<long>(len);
}

int ControlChannel::WaitInput(int ms) {
    if (!Usable()) return -1;
    if (encrypted_) {
        std::lock_guard<std::mutex> g(tlsLock_);
        if (!tls_.Open()) return -1;
        if (SslLayer::Pending(tls_) > 0) return 1;
    }
    if (fd_ == -1) return -1;
    return PollReadable(fd_, ms < 0 ? -1 : ms);
}

long ControlChannel::ReadLineRaw(std::string& line, size_t size) {
    line.clear();
    if (!Usable() || size == 0) return -1;
    if (!encrypted_) return SocketUtil::RecvLine(fd_, line, size);

    // One byte per TLS call, so that a transfer thread can write between two bytes; waiting for
    // more input happens outside the lock.
    while (line.size() + 1 < size) {
        bool pending;
        {
            std::lock_guard<std::mutex> g(tlsLock_);
            if (!tls_.Open()) return -1;
            pending = SslLayer::Pending(tls_) > 0;
        }
        if (!pending && PollReadable(fd_, -1) < 0)
            return line.empty() ? -1 : static_cast<long>(line.size());
        char c = 0;
        long n;
        {
            std::lock_guard<std::mutex> g(tlsLock_);
            if (!tls_.Open()) return -1;
            n = SslLayer::Read(tls_, &c, 1);
        }
        if (n <= 0) {
            if (line.empty()) return n < 0 ? -1 : 0;
            break;
        }
        line.push_back(c);
        if (c == '\n') return static_cast<long>(line.size()) - 1;
    }
    return static_cast<long>(line.size());
}

void ControlChannel::ShutdownTls() {
    // A writer stuck on a peer that stopped reading holds the lock; the socket shutdown that
    // follows this call frees it, so give up on the close_notify rather than wait for ever.
    std::unique_lock<std::mutex> g(tlsLock_, std::try_to_lock);
    for (int i = 0; !g.owns_lock() && i < kShutdownLockTries; ++i) {
        Clock::SleepMs(10);
        g.try_lock();
    }
    if (!g.owns_lock() || !tls_.Open()) return;
    // Only the close_notify: the object stays for threads that still hold the channel.
    SslLayer::Shutdown(tls_);
}

void ControlChannel::FreeTls() {
    std::lock_guard<std::mutex> g(tlsLock_);
    if (!tls_.Open() && !tls_.ctx) return;
    SslLayer::Free(tls_);
    tls_ = SslHandle{};
}

}  // namespace orvex
