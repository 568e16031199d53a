#pragma once
// Thin wrappers over POSIX sockets. -1 means no socket. Every socket is close-on-exec and every
// send uses MSG_NOSIGNAL.

#include <cstddef>
#include <string>
#include <string_view>

namespace orvex::SocketUtil {

bool Startup();  // ignores SIGPIPE
bool Shutdown();
void Close(int& fd);  // closes and sets -1
void ShutdownBoth(int fd);

// `ip` IPv4 or IPv6 text (matching the socket's family); empty or null is any IPv4 address.
bool BindAddress(int fd, const char* ip, unsigned short port);
bool Listen(int fd, int backlog);
int Accept(int listenFd);
bool LocalAddress(int fd, std::string& ip, std::string& port);
bool PeerAddress(int fd, std::string& ip, std::string& port);
std::string ReverseLookup(const std::string& ip);
// The same, giving up after `waitMs`: the lookup goes on in a helper thread, whose answer is then
// dropped. Empty when it fails or takes longer.
std::string ReverseLookup(const std::string& ip, uint32_t waitMs);
bool IsIp(std::string_view text);
// Whether the text is an IPv6 address (an IPv4 client of a dual-stack socket is shown as IPv4).
bool IsIpv6(std::string_view text);
// Whether two address texts name the same host; an IPv4 address equals its IPv6-mapped form.
bool SameAddress(std::string_view a, std::string_view b);
// The unspecified address (0.0.0.0 or ::), which names no host to connect to.
bool IsUnspecified(std::string_view ip);
bool LocalIp(std::string& ip);
// The host's first non-loopback IPv4 address, else 127.0.0.1.
std::string FirstNonLoopbackIp();

// Receives until n bytes or end of stream; byte count or negative error.
long RecvExact(int fd, char* buf, size_t n);
// One command line, at most size-1 bytes, stopping after LF (kept in `line`). Result: bytes before
// the LF (all when none came), 0 at end of stream before the first byte, -1 on error.
long RecvLine(int fd, std::string& line, size_t size);
long SendAll(int fd, const void* data, size_t len, bool urgent = false);
long SendLine(int fd, std::string_view text, bool urgent = false);

bool SetKeepAlive(int fd);
// Replies are single small writes: without this each one waits for the peer's delayed ACK.
bool SetNoDelay(int fd);
bool SetRecvTimeout(int fd, unsigned ms);
bool SetOobInline(int fd);
// 1 at once for 0/0; otherwise >0 readable, 0 time-out, <0 error.
int WaitReadable(int fd, int seconds, int milliseconds);

// A listening socket, or -1 with errno telling why (EINVAL for a bad port or address).
int OpenListener(const std::string& port, const char* ip);

// The text of an errno value, for log lines.
std::string ErrorText(int error);
// Bound (not listening) socket with address reuse; port 0 lets the system choose.
int OpenDataSocket(std::string* portOut, const std::string& ip, unsigned short port);
// `address` is a sockaddr_in or sockaddr_in6.
bool ConnectTimeout(int fd, const void* address, int seconds);
// `sourceIp`, an address of this host, is bound first so the peer sees the connection come from
// it.
int ConnectHost(const std::string& host, const std::string& port, int seconds,
                const std::string& sourceIp = {});

}  // namespace orvex::SocketUtil
