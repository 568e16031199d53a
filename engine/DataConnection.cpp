// A job's data connection: opening it (accept or connect, foreign peer check, TLS), moving bytes
// through the half-second speed limiter, and the rate meter.

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "engine/Clock.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/TransferJob.h"

namespace orvex {

namespace {

constexpr int kAcceptSeconds = 5;
constexpr int kConnectSeconds = 5;
constexpr int kActiveHandshakeMs = 5000;
// A client that connects and never starts TLS must not hold the session for long.
constexpr int kPassiveHandshakeMs = 10000;
constexpr int kSliceMs = 500;        // how often a waiting move looks at the abort flag
constexpr int kIdleLimitMs = 50000;  // a receive with no data for this long ends
constexpr uint32_t kWindowMs = 500;
constexpr long kStopped = -2;  // aborted or idle too long
// TLS writes go in pieces that fit the socket once it polls writable, so that a client that
// stopped reading leaves the job waiting in poll(), where ABOR reaches it.
constexpr size_t kTlsPiece = 32 * 1024;
constexpr int kTlsStallMs = 60000;  // guard for a write that blocks inside the library

Args JobArgs(const TransferJob& job) {
    return Args{job.Verb(), job.argument};
}

void Fail(TransferJob& job, std::string_view text, std::string_view code,
          const std::function<void()>& undo) {
    if (undo) undo();
    ReleaseTransferSlot(job);
    job.session->RespondAs(job.user, JobArgs(job), text, code);
}

void SetSendTimeout(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Claims up to `want` bytes of a site window's budget; 0 when it is spent.
uint32_t Claim(std::atomic<uint32_t>& used, uint32_t budget, size_t want) {
    uint32_t u = used.load();
    for (;;) {
        if (u >= budget) return 0;
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(budget - u, want));
        if (used.compare_exchange_weak(u, u + piece)) return piece;
    }
}

// Ends the site window that was current when its budget ran out. Threads that spent the same
// window queue on the lock; only the first one waits, the others find a new window already open.
void EndSiteWindow(FtpSite::SpeedWindow& w, uint32_t seenStart) {
    LockGuard guard(w.lock);
    if (w.start.load() != seenStart) return;
    const uint32_t elapsed = Clock::ElapsedMs(seenStart, Clock::NowMs());
    if (elapsed < kWindowMs) Clock::SleepMs(kWindowMs - elapsed);
    w.start = Clock::NowMs();
    w.used = 0;
}

}  // namespace

DataConnection::~DataConnection() {
    Close();
}

bool DataConnection::Open(TransferJob& job, const std::string& text150,
                          const std::function<void()>& undo) {
    FtpSession& s = *job.session;
    session_ = job.session;
    const Args args = JobArgs(job);
    const int direction = job.jobType == 'R' ? 1 : 0;

    if (job.passive) {
        if (job.dataListener >= 0 &&
            SocketUtil::WaitReadable(job.dataListener, kAcceptSeconds, 0) > 0)
            fd_ = SocketUtil::Accept(job.dataListener);
    } else {
        // A third host is judged before anything is sent to it: no bounce connections.
        if (!job.portAddress.empty() && !job.portNumber.empty()) {
            if (!job.site->AllowsDataPeer(job.user, job.peerIp, job.portAddress, direction, 0)) {
                Fail(job, "Can't open data connection", "426", undo);
                return false;
            }
            fd_ = SocketUtil::ConnectHost(job.portAddress, job.portNumber, kConnectSeconds);
        }
    }
    if (fd_ < 0) {
        fd_ = -1;
        Fail(job, "Can't open data connection", "425", undo);
        return false;
    }
    if (job.passive) {
        // An unknown peer address is judged as a third host.
        std::string ip, port;
        if (!SocketUtil::PeerAddress(fd_, ip, port)) ip.clear();
        // The balancer that carries the control connection forwards the passive ports as well.
        if (!job.relayIp.empty() && SocketUtil::SameAddress(ip, job.relayIp)) ip = job.peerIp;
        if (!job.site->AllowsDataPeer(job.user, job.peerIp, ip, direction, 1)) {
            SocketUtil::Close(fd_);
            job.site->Stats().CountDataRefusal(Metrics::DataRefusal::kForeignAddress);
            Fail(job, "Can't open data connection", "426", undo);
            return false;
        }
    }

    s.RespondAs(job.user, args, text150, "150");

    if (job.dataProtection) {
        // The server side of the handshake in both modes: every client acts as the TLS client
        // on its data connections, whichever side opened the TCP connection.
        int reason = 0;
        const bool ok = SslLayer::AcceptData(fd_, s.Tls(), tls_, reason,
                                             job.passive ? kPassiveHandshakeMs : kActiveHandshakeMs,
                                             job.tlsReuse);
        job.site->Stats().CountTlsHandshake(ok || reason == SslLayer::kNotResumed);
        if (!ok) {
            SslLayer::Free(tls_);
            SocketUtil::Close(fd_);
            // Whoever reached the passive port first without the control connection's session
            // may be anyone: the transfer does not take place.
            if (reason == SslLayer::kNotResumed) {
                job.site->Stats().CountDataRefusal(Metrics::DataRefusal::kTlsSessionNotResumed);
                Fail(job, "TLS session of data connection not resumed.", "522", undo);
            } else {
                job.site->Stats().CountDataRefusal(Metrics::DataRefusal::kTlsFailed);
                Fail(job, "Unable to establish an encrypted data channel.", "427", undo);
            }
            return false;
        }
        SetSendTimeout(fd_, kTlsStallMs);
    } else {
        // Sends wake up now and then, so that ABOR ends a send to a client that stopped reading.
        SetSendTimeout(fd_, 1000);
    }
    return true;
}

void DataConnection::Close() {
    if (tls_.Open()) SslLayer::Close(tls_);
    if (fd_ >= 0) SocketUtil::Close(fd_);
    fd_ = -1;
}

bool DataConnection::Write(const char* data, size_t len) {
    return RawSend(data, len) == static_cast<long>(len);
}

long DataConnection::RawSend(const char* buf, size_t len) {
    if (len == 0) return 0;
    if (fd_ < 0) return -1;
    size_t done = 0;
    if (tls_.Open()) {
        while (done < len) {
            pollfd p{fd_, POLLOUT, 0};
            const int r = poll(&p, 1, kSliceMs);
            if (r < 0 && errno != EINTR) return -1;
            if (Stopping()) return -1;
            if (r <= 0) continue;
            const long n = SslLayer::Write(tls_, buf + done, std::min(len - done, kTlsPiece));
            if (n <= 0) return -1;
            done += static_cast<size_t>(n);
            bytesSent_ += static_cast<uint64_t>(n);
        }
        return static_cast<long>(done);
    }
    while (done < len) {
        const ssize_t n = send(fd_, buf + done, len - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            bytesSent_ += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const bool wouldBlock = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (wouldBlock && !Stopping()) continue;
        return -1;
    }
    return static_cast<long>(done);
}

// One read of whatever has arrived, waiting in slices so that the abort flag and the idle limit
// are seen. 0 at end of data, -1 on error, kStopped when aborted, stopping or idle.
long DataConnection::RawRecv(char* buf, size_t len) {
    if (fd_ < 0) return -1;
    int idleMs = 0;
    for (;;) {
        if (Stopping()) return kStopped;
        if (tls_.Open()) {
            if (SslLayer::Pending(tls_) > 0) return SslLayer::ReadSome(tls_, buf, len);
        } else {
            const ssize_t n = recv(fd_, buf, len, MSG_DONTWAIT);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        }
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, kSliceMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r > 0) {
            if (tls_.Open()) return SslLayer::ReadSome(tls_, buf, len);
            continue;
        }
        idleMs += kSliceMs;
        if (idleMs >= kIdleLimitMs) return kStopped;
    }
}

// Fills the buffer until it is full or the data ends: a short TCP read never ends a file early.
// Bytes that came before a stop or a failure are kept; the caller sees the flags.
long DataConnection::FillRecv(char* buf, size_t len) {
    size_t got = 0;
    while (got < len) {
        const long n = RawRecv(buf + got, len - got);
        if (n == kStopped) stopped_ = true;
        if (n < 0 && n != kStopped) recvFailed_ = true;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<long>(got);
}

bool DataConnection::Stopping() const {
    return (session_ && session_->Aborted()) || Run().stopRequested;
}

void DataConnection::ResetMeters() {
    windowStart_ = rateStart_ = Clock::NowMs();
    windowBytes_ = 0;
    rateBytes_ = 0;
}

void DataConnection::Meter(TransferJob& job, long bytes) {
    rateBytes_ += static_cast<double>(bytes > 0 ? bytes : 0);
    const uint32_t now = Clock::NowMs();
    if (Clock::ElapsedMs(rateStart_, now) < kWindowMs) return;
    const double rate = rateBytes_ / Clock::ElapsedSeconds(rateStart_, now);
    job.site->SetTransferRate(job.session->ConnectionNumber(),
                              static_cast<uint32_t>(std::min(rate, double(UINT32_MAX))));
    rateBytes_ = 0;
    rateStart_ = now;
}

bool DataConnection::Unlimited(const TransferJob& job, bool receiving) const {
    const uint32_t own = receiving ? receiveLimit : sendLimit;
    FtpSite& site = *job.site;
    const uint32_t siteLimit =
        receiving ? site.ReceiveWindow().limit.load() : site.SendWindow().limit.load();
    return !tls_.Open() && own / 2 == 0 && siteLimit / 2 == 0;
}

long DataConnection::SendFromFile(TransferJob& job, int fileFd, size_t len) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t n = sendfile(fd_, fileFd, nullptr, len);
        if (n >= 0) {
            bytesSent_ += static_cast<uint64_t>(n);
            Meter(job, n);
            return n;
        }
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && !Stopping()) continue;
        return -1;
    }
}

namespace {

// Writes `n` bytes waiting in the pipe to the file; splice when the file system takes it.
bool DrainPipe(int pipeIn, int fileFd, size_t n, bool& useSplice) {
    char buf[16384];
    while (n > 0) {
        if (useSplice) {
            const ssize_t w = splice(pipeIn, nullptr, fileFd, nullptr, n, SPLICE_F_MOVE);
            if (w > 0) {
                n -= static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno == EINVAL) {
                useSplice = false;
                continue;
            }
            return false;
        }
        const ssize_t r = read(pipeIn, buf, std::min(n, sizeof buf));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        for (ssize_t off = 0; off < r;) {
            const ssize_t w = write(fileFd, buf + off, static_cast<size_t>(r - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            off += w;
        }
        n -= static_cast<size_t>(r);
    }
    return true;
}

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe2(fd, O_CLOEXEC) == 0) fcntl(fd[1], F_SETPIPE_SZ, 1 << 20);
    }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
};

}  // namespace

int64_t DataConnection::ReceiveToFile(TransferJob& job, int fileFd, bool& fileFailed) {
    fileFailed = false;
    Pipe pipe;
    if (fd_ < 0 || pipe.fd[0] < 0) return -1;
    // SPLICE_F_NONBLOCK does not keep a blocking socket from blocking: only a non-blocking one
    // lets the wait below see ABOR, the idle limit and a stop.
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
    bool useSplice = true;
    int64_t total = 0;
    int idleMs = 0;
    for (;;) {
        if (Stopping()) {
            stopped_ = true;
            return total;
        }
        const ssize_t n =
            splice(fd_, nullptr, pipe.fd[1], nullptr, 1 << 20, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n == 0) return total;
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // What already went to the file stays counted; the flag tells the failure.
                recvFailed_ = true;
                return total;
            }
            pollfd p{fd_, POLLIN, 0};
            const int r = poll(&p, 1, kSliceMs);
            if (r < 0 && errno != EINTR) {
                recvFailed_ = true;
                return total;
            }
            if (r == 0 && (idleMs += kSliceMs) >= kIdleLimitMs) {
                stopped_ = true;
                return total;
            }
            if (r > 0) idleMs = 0;
            continue;
        }
        Meter(job, n);
        if (!DrainPipe(pipe.fd[0], fileFd, static_cast<size_t>(n), useSplice)) {
            fileFailed = true;
            return -1;
        }
        total += n;
    }
}

long DataConnection::Limited(TransferJob& job, size_t len, bool receiving,
                             const std::function<long(size_t, size_t)>& io) {
    if (len == 0) return 0;
    FtpSite::SpeedWindow& site = receiving ? job.site->ReceiveWindow() : job.site->SendWindow();
    const uint32_t ownBudget = (receiving ? receiveLimit : sendLimit) / 2;
    const uint32_t siteBudget = site.limit.load() / 2;
    if (ownBudget == 0 && siteBudget == 0) {
        const long n = io(0, len);
        Meter(job, n);
        return n;
    }
    size_t done = 0;
    while (done < len) {
        const size_t rest = len - done;
        const uint64_t siteRoom =
            siteBudget == 0 ? UINT64_MAX : siteBudget - std::min(siteBudget, site.used.load());
        const uint64_t ownRoom =
            ownBudget == 0 ? UINT64_MAX : ownBudget - std::min(ownBudget, windowBytes_);
        size_t piece;
        long n;
        if (siteRoom < ownRoom) {
            const uint32_t seen = site.start.load();
            piece = Claim(site.used, siteBudget, rest);
            if (piece == 0) {  // spent by other transfers: never write zero bytes, wait instead
                EndSiteWindow(site, seen);
                continue;
            }
            n = io(done, piece);
            if (site.used.load() >= siteBudget) EndSiteWindow(site, seen);
        } else {
            piece = static_cast<size_t>(std::min<uint64_t>(rest, ownRoom));
            if (piece > 0) {
                windowBytes_ += static_cast<uint32_t>(piece);
                n = io(done, piece);
            } else {
                n = 0;
            }
            if (windowBytes_ >= ownBudget) {
                const uint32_t elapsed = Clock::ElapsedMs(windowStart_, Clock::NowMs());
                if (elapsed < kWindowMs) Clock::SleepMs(kWindowMs - elapsed);
                windowStart_ = Clock::NowMs();
                windowBytes_ = 0;
            }
            if (piece == 0) continue;
        }
        Meter(job, n);
        if (n < 0) return n;
        done += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < piece) return receiving ? static_cast<long>(done) : -1;
    }
    return static_cast<long>(done);
}

long DataConnection::SendLimited(TransferJob& job, const char* buf, size_t len) {
    return Limited(job, len, false,
                   [this, buf](size_t off, size_t n) { return RawSend(buf + off, n); });
}

long DataConnection::ReceiveLimited(TransferJob& job, char* buf, size_t len) {
    return Limited(job, len, true,
                   [this, buf](size_t off, size_t n) { return FillRecv(buf + off, n); });
}

}  // namespace orvex
