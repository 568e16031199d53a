#pragma once
// The PROXY protocol header a load balancer puts in front of a connection (versions 1 and 2):
// the parser of its bytes and the reader that takes exactly the header off a socket.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

struct ProxyHeader {
    // LOCAL (v2) and UNKNOWN (v1) headers carry no client: the socket's own addresses stay.
    bool carriesClient = false;
    std::string sourceIp, sourcePort;
    std::string destinationIp, destinationPort;
};

enum class ProxyParse {
    kNeedMore,  // a header so far; `wanted` says how many bytes in all the next step needs
    kInvalid,
    kDone,  // `used` bytes make the header
};

struct ProxyParseResult {
    ProxyParse state = ProxyParse::kInvalid;
    size_t wanted = 0;
    size_t used = 0;
};

// `bytes` starts at the first byte of the connection.
ProxyParseResult ParseProxyHeader(std::string_view bytes, ProxyHeader& out);

// Whether `bytes` (at least one) can still begin a header of either version.
bool MayBeProxyHeader(std::string_view bytes);

enum class ProxyRead {
    kNone,     // the connection does not start with a header (nothing was taken off it)
    kHeader,   // a valid header was taken off the socket
    kInvalid,  // something header-like that does not parse, or a closed connection
    kTimeout,
};

// Takes the header, and not one byte more, off `fd`. `waitMs` bounds the wait for the first
// bytes; `deadlineMs` (monotonic) the whole header.
ProxyRead ReadProxyHeader(int fd, int waitMs, int64_t deadlineMs, ProxyHeader& out);

}  // namespace orvex
