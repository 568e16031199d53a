#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/Clock.h"
#include "engine/ReplyBuilder.h"
#include "engine/SocketUtil.h"

namespace orvex {

namespace {

constexpr int kShutdownLockTries = 100;  // about one second
constexpr long kEndOfStream = -3;        // what TakePlain and TakeTls report for it

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
    return ReadLineWithin(line, size, -1);
}

long ControlChannel::ReadLineWithin(std::string& line, size_t size, int ms, bool* cut) {
    line.clear();
    if (cut) *cut = false;
    if (!Usable() || size == 0) return kClosed;
    if (hasPushedBack_) {
        line.swap(pushedBack_);
        pushedBack_.clear();
        hasPushedBack_ = false;
        if (line.size() > size - 1) line.resize(size - 1);
        if (cut) *cut = pushedBackCut_;
        return static_cast<long>(line.size());
    }
    // A line holds at most size-1 characters before its CR LF; whatever follows them up to the
    // line feed belongs to the same line and is thrown away, never read as a command of its own.
    const size_t most = size - 1 + 2;
    const uint32_t start = Clock::NowMs();
    for (;;) {
        if (!partial_.empty() && partial_.back() == '\n') {
            if (discarding_) {
                partial_.clear();
                discarding_ = false;
                continue;
            }
            line.swap(partial_);
            partial_.clear();
            size_t text = line.size() - 1;
            if (text > 0 && line[text - 1] == '\r') --text;
            if (text <= size - 1) return static_cast<long>(line.size() - 1);
            line.resize(size - 1);
            if (cut) *cut = true;
            return static_cast<long>(line.size());
        }
        if (partial_.size() >= most) {
            if (discarding_) {
                partial_.clear();
            } else {
                line.assign(partial_, 0, size - 1);
                partial_.clear();
                discarding_ = true;
                if (cut) *cut = true;
                return static_cast<long>(line.size());
            }
        }
        const size_t room = most - partial_.size();
        const long got = encrypted_ ? TakeTls(room) : TakePlain(room);
        if (got > 0) continue;
        if (got < 0) {
            peerClosed_ = got == kEndOfStream;
            // The last bytes before the end of the stream still form a line.
            if (partial_.empty() || discarding_) return kClosed;
            line.swap(partial_);
            partial_.clear();
            return static_cast<long>(line.size());
        }
        int left = -1;
        if (ms >= 0) {
            const uint32_t spent = Clock::ElapsedMs(start, Clock::NowMs());
            if (spent >= static_cast<uint32_t>(ms)) return kNoLineYet;
            left = ms - static_cast<int>(spent);
        }
        const int r = PollReadable(fd_, left);
        if (r < 0) return kClosed;
        if (r == 0) return kNoLineYet;
    }
}

long ControlChannel::TakePlain(size_t room) {
    // Peek first and take only up to the line feed: what follows belongs to the next line, or
    // after AUTH to the TLS handshake.
    char buf[1024];
    const size_t want = std::min(room, sizeof buf);
    ssize_t n;
    do {
        n = recv(fd_, buf, want, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return kEndOfStream;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    const void* lf = memchr(buf, '\n', static_cast<size_t>(n));
    const size_t take =
        lf ? static_cast<size_t>(static_cast<const char*>(lf) - buf) + 1 : static_cast<size_t>(n);
    do {
        n = recv(fd_, buf, take, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return kEndOfStream;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    partial_.append(buf, static_cast<size_t>(n));
    return n;
}

long ControlChannel::TakeTls(size_t room) {
    // One byte per TLS call, so that a transfer thread can write between two bytes; waiting for
    // more input happens outside the lock.
    long moved = 0;
    while (room > 0) {
        std::lock_guard<std::mutex> g(tlsLock_);
        if (!tls_.Open()) return -1;
        if (moved > 0 && SslLayer::Pending(tls_) <= 0) break;
        if (moved == 0 && SslLayer::Pending(tls_) <= 0) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0) return 0;
        }
        char c = 0;
        const long n = SslLayer::Read(tls_, &c, 1);
        if (n <= 0) return moved > 0 ? moved : (n == 0 ? kEndOfStream : -1);
        partial_.push_back(c);
        ++moved;
        --room;
        if (c == '\n') break;
    }
    return moved;
}

void ControlChannel::PushBackLine(std::string_view line, bool cut) {
    pushedBack_.assign(line);
    hasPushedBack_ = true;
    pushedBackCut_ = cut;
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
