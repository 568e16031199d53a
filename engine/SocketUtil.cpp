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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "engine/ThreadUtil.h"

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

// An address text and port as a socket address of its own family; an empty text is any IPv4
// address. False when the text is no address.
bool ParseAddress(const char* ip, unsigned short port, sockaddr_storage& out, socklen_t& len) {
    out = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (!ip || !*ip) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        len = sizeof(sockaddr_in);
        return true;
    }
    if (inet_pton(AF_INET, ip, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (inet_pton(AF_INET6, ip, &v6->sin6_addr) != 1) return false;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    len = sizeof(sockaddr_in6);
    return true;
}

int NewTcpSocket(int family) {
    return socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

int FamilyOfText(const char* ip) {
    sockaddr_storage a{};
    socklen_t len = 0;
    return ParseAddress(ip, 0, a, len) ? a.ss_family : AF_INET;
}

bool SetReuse(int fd) {
    int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

// An IPv4 client of a listener on "::" arrives as an IPv4-mapped address: it is shown, logged
// and compared as the IPv4 address it is.
bool AddressText(const sockaddr_storage& a, std::string& ip, std::string& port) {
    char buf[INET6_ADDRSTRLEN] = {};
    unsigned short p = 0;
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        if (!inet_ntop(AF_INET, &v4.sin_addr, buf, sizeof buf)) return false;
        p = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr);
        if (!(mapped ? inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], buf, sizeof buf)
                     : inet_ntop(AF_INET6, &v6.sin6_addr, buf, sizeof buf)))
            return false;
        p = ntohs(v6.sin6_port);
    } else {
        return false;
    }
    ip = buf;
    char text[8];
    snprintf(text, sizeof text, "%hu", p);
    port = text;
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
    sockaddr_storage a{};
    socklen_t len = 0;
    if (!ParseAddress(ip, port, a, len)) {
        errno = EINVAL;
        return false;
    }
    if (a.ss_family == AF_INET6) {
        // "::" serves both families where the host allows it; any other IPv6 address only its own.
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        const int only = IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr) ? 0 : 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    return bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0;
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
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (fd < 0 || name(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
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
    sockaddr_storage a{};
    socklen_t len = 0;
    if (ip.empty() || !ParseAddress(ip.c_str(), 0, a, len)) return {};
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&a), len, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return {};
    return host;
}

std::string ReverseLookup(const std::string& ip, uint32_t waitMs) {
    struct Lookup {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        std::string host;
    };
    auto lookup = std::make_shared<Lookup>();
    const bool started = ThreadUtil::StartThread([lookup, ip]() {
        std::string host = ReverseLookup(ip);
        std::lock_guard<std::mutex> g(lookup->lock);
        lookup->host = std::move(host);
        lookup->finished = true;
        lookup->done.notify_all();
    });
    if (!started) return {};
    std::unique_lock<std::mutex> g(lookup->lock);
    lookup->done.wait_for(g, std::chrono::milliseconds(waitMs), [&] { return lookup->finished; });
    return lookup->finished ? lookup->host : std::string();
}

bool IsIp(std::string_view text) {
    std::string t(text);
    in_addr a{};
    return inet_pton(AF_INET, t.c_str(), &a) == 1 && a.s_addr != INADDR_NONE;
}

bool IsIpv6(std::string_view text) {
    const std::string t(text);
    in6_addr a{};
    return inet_pton(AF_INET6, t.c_str(), &a) == 1;
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
    sockaddr_storage a{};
    memcpy(&a, second->ai_addr, std::min<size_t>(second->ai_addrlen, sizeof a));
    bool ok = AddressText(a, ip, port);
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
        sockaddr_storage any{};
        memcpy(&any, a, sizeof *a);
        if (AddressText(any, ip, port)) {
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
    int fd = NewTcpSocket(FamilyOfText(ip));
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
    int fd = NewTcpSocket(FamilyOfText(ip.c_str()));
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

bool ConnectTimeout(int fd, const void* address, int seconds) {
    if (fd < 0 || !address) return false;
    if (!SetBlocking(fd, false)) return false;
    const auto* a = static_cast<const sockaddr*>(address);
    const socklen_t len = a->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    bool ok = false;
    if (connect(fd, a, len) == 0) {
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
    sockaddr_storage a{};
    socklen_t len = 0;
    if (!ParseAddress(host.c_str(), p, a, len)) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* res = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return -1;
        memcpy(&a, res->ai_addr, std::min<size_t>(res->ai_addrlen, sizeof a));
        freeaddrinfo(res);
        if (a.ss_family == AF_INET6)
            reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(p);
        else
            reinterpret_cast<sockaddr_in&>(a).sin_port = htons(p);
    }
    int fd = NewTcpSocket(a.ss_family);
    if (fd < 0) return -1;
    sockaddr_storage local{};
    socklen_t localLen = 0;
    // An address this host does not have (a NAT's public one), or one of the other family,
    // leaves the choice to the system.
    if (!sourceIp.empty() && ParseAddress(sourceIp.c_str(), 0, local, localLen) &&
        local.ss_family == a.ss_family &&
        bind(fd, reinterpret_cast<sockaddr*>(&local), localLen) != 0 && errno != EADDRNOTAVAIL) {
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
