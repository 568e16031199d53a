#include "engine/SocketUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace orvex::SocketUtil {

namespace {

// Port text as the user wrote it: decimal digits only, at most 65535.
bool ParsePort(const std::string& text, unsigned short& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    if (v > 65535) return false;
    port = static_cast<unsigned short>(v);
    return true;
}

bool ParseIp(const char* ip, in_addr& out) {
    if (!ip || !*ip) {
        out.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, ip, &out) == 1;
}

int NewTcpSocket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool SetReuse(int fd) {
    int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool AddressText(const sockaddr_in& a, std::string& ip, std::string& port) {
    char buf[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf)) return false;
    ip = buf;
    char p[8];
    snprintf(p, sizeof p, "%hu", ntohs(a.sin_port));
    port = p;
    return true;
}

bool SetBlocking(int fd, bool blocking) {
    int fl = fcntl(fd, F_GETFL, 0);
    if (fl < 0) return false;
    fl = blocking ? (fl & ~O_NONBLOCK) : (fl | O_NONBLOCK);
    return fcntl(fd, F_SETFL, fl) == 0;
}

// poll() that resumes after signals with the time that is left; timeoutMs < 0 waits forever.
int PollOne(int fd, short events, int timeoutMs, short& revents) {
    using namespace std::chrono;
    auto deadline = steady_clock::now() + milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, timeoutMs);
        if (r >= 0) {
            revents = p.revents;
            return r;
        }
        if (errno != EINTR) return -1;
        if (timeoutMs >= 0) {
            auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            timeoutMs = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

}  // namespace

bool Startup() {
    signal(SIGPIPE, SIG_IGN);
    return true;
}

bool Shutdown() {
    return true;
}

void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void ShutdownBoth(int fd) {
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool BindAddress(int fd, const char* ip, unsigned short port) {
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (!ParseIp(ip, a.sin_addr)) {
        errno = EINVAL;
        return false;
    }
    return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(int fd, int backlog) {
    return fd >= 0 && listen(fd, backlog) == 0;
}

int Accept(int listenFd) {
    if (listenFd < 0) return -1;
    int fd;
    do {
        fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED));
    return fd;
}

namespace {

// `name` is getsockname or getpeername.
bool AddressOf(int (*name)(int, sockaddr*, socklen_t*), int fd, std::string& ip,
               std::string& port) {
    ip.clear();
    port.clear();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd < 0 || name(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET)
        return false;
    if (AddressText(a, ip, port)) return true;
    ip.clear();
    port.clear();
    return false;
}

}  // namespace

bool LocalAddress(int fd, std::string& ip, std::string& port) {
    return AddressOf(getsockname, fd, ip, port);
}

bool PeerAddress(int fd, std::string& ip, std::string& port) {
    return AddressOf(getpeername, fd, ip, port);
}

std::string ReverseLookup(const std::string& ip) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) return {};
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof a, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return {};
    return host;
}

bool IsIp(std::string_view text) {
    std::string t(text);
    in_addr a{};
    return inet_pton(AF_INET, t.c_str(), &a) == 1 && a.s_addr != INADDR_NONE;
}

namespace {

// Any address text as 16 bytes, IPv4 in its IPv6-mapped form; false when it is no address.
bool AsIpv6(std::string_view text, in6_addr& out) {
    const std::string t(text);
    if (inet_pton(AF_INET6, t.c_str(), &out) == 1) return true;
    in_addr v4{};
    if (inet_pton(AF_INET, t.c_str(), &v4) != 1) return false;
    out = in6_addr{};
    out.s6_addr[10] = out.s6_addr[11] = 0xff;
    memcpy(&out.s6_addr[12], &v4, sizeof v4);
    return true;
}

}  // namespace

bool SameAddress(std::string_view a, std::string_view b) {
    in6_addr x{}, y{};
    if (!AsIpv6(a, x) || !AsIpv6(b, y)) return a == b;
    return memcmp(&x, &y, sizeof x) == 0;
}

bool IsUnspecified(std::string_view ip) {
    in6_addr a{};
    if (!AsIpv6(ip, a)) return false;
    static const in6_addr kMappedAny = [] {
        in6_addr m{};
        m.s6_addr[10] = m.s6_addr[11] = 0xff;
        return m;
    }();
    return IN6_IS_ADDR_UNSPECIFIED(&a) || memcmp(&a, &kMappedAny, sizeof a) == 0;
}

bool LocalIp(std::string& ip) {
    ip.clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* first = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &first) != 0 || !first) return false;
    std::string canon = first->ai_canonname ? first->ai_canonname : "localhost";
    freeaddrinfo(first);
    addrinfo* second = nullptr;
    hints.ai_flags = 0;
    if (getaddrinfo(canon.c_str(), nullptr, &hints, &second) != 0 || !second) return false;
    std::string port;
    bool ok = AddressText(*reinterpret_cast<sockaddr_in*>(second->ai_addr), ip, port);
    freeaddrinfo(second);
    return ok;
}

std::string FirstNonLoopbackIp() {
    ifaddrs* list = nullptr;
    std::string found = "127.0.0.1";
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (i->ifa_flags & IFF_LOOPBACK) continue;
        auto* a = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
        if ((ntohl(a->sin_addr.s_addr) >> 24) == 127) continue;
        std::string ip, port;
        if (AddressText(*a, ip, port)) {
            found = ip;
            break;
        }
    }
    freeifaddrs(list);
    return found;
}

long RecvExact(int fd, char* buf, size_t n) {
    if (fd < 0 || (!buf && n)) return -1;
    size_t got = 0;
    while (got < n) {
        ssize_t r = recv(fd, buf + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long>(got);
}

long RecvLine(int fd, std::string& line, size_t size) {
    line.clear();
    if (fd < 0 || size == 0) return -1;
    bool sawLf = false;
    while (line.size() + 1 < size) {
        char c;
        ssize_t r = recv(fd, &c, 1, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) {
            if (line.empty()) return 0;
            break;
        }
        line += c;
        if (c == '\n') {
            sawLf = true;
            break;
        }
    }
    return static_cast<long>(sawLf ? line.size() - 1 : line.size());
}

long SendAll(int fd, const void* data, size_t len, bool urgent) {
    if (fd < 0) return -1;
    const char* p = static_cast<const char*>(data);
    size_t sent = 0;
    int flags = MSG_NOSIGNAL | (urgent ? MSG_OOB : 0);
    while (sent < len) {
        ssize_t r = send(fd, p + sent, len - sent, flags);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r;
        sent += static_cast<size_t>(r);
    }
    return static_cast<long>(len);
}

long SendLine(int fd, std::string_view text, bool urgent) {
    size_t lf = text.find('\n');
    if (lf != std::string_view::npos) return SendAll(fd, text.data(), lf + 1, urgent);
    std::string s(text);
    s += '\n';
    return SendAll(fd, s.data(), s.size(), urgent);
}

bool SetKeepAlive(int fd) {
    int on = 1;
    return fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
}

bool SetNoDelay(int fd) {
    int on = 1;
    return fd >= 0 && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool SetRecvTimeout(int fd, unsigned ms) {
    if (fd < 0) return false;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool SetOobInline(int fd) {
    int on = 1;
    return fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) == 0;
}

int WaitReadable(int fd, int seconds, int milliseconds) {
    if (seconds == 0 && milliseconds == 0) return 1;
    if (fd < 0) return -1;
    long ms = static_cast<long>(seconds) * 1000 + milliseconds;
    if (ms < 0) ms = 0;
    if (ms > 0x7fffffff) ms = 0x7fffffff;
    short rev = 0;
    return PollOne(fd, POLLIN, static_cast<int>(ms), rev);
}

int OpenListener(const std::string& port, const char* ip) {
    unsigned short p = 0;
    if (!ParsePort(port, p)) {
        errno = EINVAL;
        return -1;
    }
    int fd = NewTcpSocket();
    if (fd < 0) return -1;
    SetReuse(fd);
    if (!BindAddress(fd, ip, p) || !Listen(fd, SOMAXCONN)) {
        const int why = errno;
        Close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

std::string ErrorText(int error) {
    char buf[256];
    // The GNU form: the text may be a constant rather than `buf`.
    return strerror_r(error, buf, sizeof buf);
}

int OpenDataSocket(std::string* portOut, const std::string& ip, unsigned short port) {
    int fd = NewTcpSocket();
    if (fd < 0) return -1;
    if (!SetReuse(fd) || !BindAddress(fd, ip.c_str(), port)) {
        Close(fd);
        return -1;
    }
    if (portOut) {
        std::string boundIp;
        if (!LocalAddress(fd, boundIp, *portOut)) {
            Close(fd);
            return -1;
        }
    }
    return fd;
}

bool ConnectTimeout(int fd, const void* sockaddrIn, int seconds) {
    if (fd < 0 || !sockaddrIn) return false;
    if (!SetBlocking(fd, false)) return false;
    bool ok = false;
    if (connect(fd, static_cast<const sockaddr*>(sockaddrIn), sizeof(sockaddr_in)) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS || errno == EINTR) {
        short rev = 0;
        long ms = seconds < 0 ? -1 : static_cast<long>(seconds) * 1000;
        if (ms > 0x7fffffff) ms = 0x7fffffff;
        if (PollOne(fd, POLLOUT, static_cast<int>(ms), rev) > 0 && (rev & POLLOUT)) {
            int err = -1;
            socklen_t len = sizeof err;
            ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    // Leave the socket blocking either way, as every caller expects.
    if (!SetBlocking(fd, true)) ok = false;
    return ok;
}

int ConnectHost(const std::string& host, const std::string& port, int seconds,
                const std::string& sourceIp) {
    unsigned short p = 0;
    if (!ParsePort(port, p) || host.empty()) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(p);
    if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return -1;
        a.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        freeaddrinfo(res);
    }
    int fd = NewTcpSocket();
    if (fd < 0) return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    // An address this host does not have (a NAT's public one) leaves the choice to the system.
    if (!sourceIp.empty() && inet_pton(AF_INET, sourceIp.c_str(), &local.sin_addr) == 1 &&
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 &&
        errno != EADDRNOTAVAIL) {
        Close(fd);
        return -1;
    }
    if (!ConnectTimeout(fd, &a, seconds)) {
        Close(fd);
        return -1;
    }
    return fd;
}

}  // namespace orvex::SocketUtil
