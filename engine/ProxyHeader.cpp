#include "engine/ProxyHeader.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "engine/Clock.h"
#include "engine/RunState.h"

namespace orvex {

namespace {

constexpr std::string_view kV1Prefix = "PROXY ";
constexpr size_t kV1Max = 107;  // the longest version 1 line, CR LF included
constexpr std::string_view kV2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr size_t kV2Fixed = 16;
constexpr uint8_t kFamilyTcp4 = 0x11, kFamilyTcp6 = 0x21;
constexpr size_t kPeekStepMs = 20;

bool IsDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ValidPort(std::string_view s) {
    if (!IsDigits(s) || s.size() > 5 || (s.size() > 1 && s[0] == '0')) return false;
    return std::stoul(std::string(s)) <= 65535;
}

bool ValidAddress(std::string_view s, int family) {
    unsigned char raw[16];
    return !s.empty() && s.size() < 46 && inet_pton(family, std::string(s).c_str(), raw) == 1;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            parts.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

ProxyParseResult ParseV1(std::string_view bytes, ProxyHeader& out) {
    ProxyParseResult r;
    const size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos) {
        if (bytes.size() >= kV1Max) return r;
        r.state = ProxyParse::kNeedMore;
        r.wanted = bytes.size() + 1;
        return r;
    }
    if (lf + 1 > kV1Max || lf == 0 || bytes[lf - 1] != '\r') return r;
    const std::vector<std::string_view> p = SplitSpaces(bytes.substr(0, lf - 1));
    r.used = lf + 1;
    if (p.size() >= 2 && p[1] == "UNKNOWN") {
        out = ProxyHeader{};
        r.state = ProxyParse::kDone;
        return r;
    }
    if (p.size() != 6 || (p[1] != "TCP4" && p[1] != "TCP6")) return r;
    const int family = p[1] == "TCP4" ? AF_INET : AF_INET6;
    if (!ValidAddress(p[2], family) || !ValidAddress(p[3], family) || !ValidPort(p[4]) ||
        !ValidPort(p[5]))
        return r;
    out.carriesClient = true;
    out.sourceIp = p[2];
    out.destinationIp = p[3];
    out.sourcePort = p[4];
    out.destinationPort = p[5];
    r.state = ProxyParse::kDone;
    return r;
}

std::string AddressText(const unsigned char* raw, int family) {
    char text[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(family, raw, text, sizeof text)) return std::string();
    return text;
}

std::string PortText(const unsigned char* raw) {
    return std::to_string((unsigned{raw[0]} << 8) | raw[1]);
}

ProxyParseResult ParseV2(std::string_view bytes, ProxyHeader& out) {
    ProxyParseResult r;
    if (bytes.size() < kV2Fixed) {
        r.state = ProxyParse::kNeedMore;
        r.wanted = kV2Fixed;
        return r;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned version = b[12] >> 4, command = b[12] & 0x0f;
    const size_t length = (size_t{b[14]} << 8) | b[15];
    if (version != 2 || command > 1) return r;
    if (bytes.size() < kV2Fixed + length) {
        r.state = ProxyParse::kNeedMore;
        r.wanted = kV2Fixed + length;
        return r;
    }
    r.used = kV2Fixed + length;
    r.state = ProxyParse::kDone;
    out = ProxyHeader{};
    // LOCAL, and families other than TCP over IPv4 or IPv6, keep the socket's addresses; the
    // TLV fields after the addresses are skipped.
    if (command == 0) return r;
    const unsigned char* a = b + kV2Fixed;
    const int family = b[13] == kFamilyTcp4 ? AF_INET : b[13] == kFamilyTcp6 ? AF_INET6 : 0;
    if (family == 0) return r;
    const size_t width = family == AF_INET ? 4 : 16;
    if (length < 2 * width + 4) {
        r.state = ProxyParse::kInvalid;
        return r;
    }
    out.sourceIp = AddressText(a, family);
    out.destinationIp = AddressText(a + width, family);
    out.sourcePort = PortText(a + 2 * width);
    out.destinationPort = PortText(a + 2 * width + 2);
    out.carriesClient = true;
    return r;
}

}  // namespace

bool MayBeProxyHeader(std::string_view bytes) {
    const size_t n1 = std::min(bytes.size(), kV1Prefix.size());
    const size_t n2 = std::min(bytes.size(), kV2Signature.size());
    return !bytes.empty() && (bytes.substr(0, n1) == kV1Prefix.substr(0, n1) ||
                              bytes.substr(0, n2) == kV2Signature.substr(0, n2));
}

ProxyParseResult ParseProxyHeader(std::string_view bytes, ProxyHeader& out) {
    ProxyParseResult r;
    if (!MayBeProxyHeader(bytes)) return r;
    if (bytes.size() >= kV1Prefix.size() && bytes.starts_with(kV1Prefix))
        return ParseV1(bytes, out);
    if (bytes.size() >= kV2Signature.size()) return ParseV2(bytes, out);
    r.state = ProxyParse::kNeedMore;
    r.wanted = bytes[0] == 'P' ? kV1Prefix.size() : kV2Signature.size();
    return r;
}

namespace {

// Waits until `fd` is readable or the deadline passes (looking at least once); false on
// time-out, error or a stop of the process.
bool WaitUntil(int fd, int64_t deadlineMs) {
    for (;;) {
        const int64_t left = std::max<int64_t>(0, deadlineMs - Clock::MonotonicMs());
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
        if (r > 0) return true;
        if ((r < 0 && errno != EINTR) || left == 0 || Run().stopRequested) return false;
    }
}

// Decides from peeked bytes whether a header comes, without taking anything off the socket.
// A sender that dribbles the first bytes is given until the deadline.
ProxyRead PeekForHeader(int fd, int64_t firstBytesBy, int64_t deadlineMs) {
    if (!WaitUntil(fd, firstBytesBy)) return ProxyRead::kTimeout;
    char head[12];
    for (;;) {
        const ssize_t n = recv(fd, head, sizeof head, MSG_PEEK);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return ProxyRead::kInvalid;
        }
        const std::string_view seen(head, static_cast<size_t>(n));
        if (!MayBeProxyHeader(seen)) return ProxyRead::kNone;
        if (seen.size() >= kV1Prefix.size() || seen.size() == sizeof head)
            return ProxyRead::kHeader;
        if (Clock::MonotonicMs() >= deadlineMs) return ProxyRead::kTimeout;
        Clock::SleepMs(kPeekStepMs);
    }
}

}  // namespace

ProxyRead ReadProxyHeader(int fd, int waitMs, int64_t deadlineMs, ProxyHeader& out) {
    out = ProxyHeader{};
    const int64_t firstBy = std::min<int64_t>(deadlineMs, Clock::MonotonicMs() + waitMs);
    const ProxyRead peeked = PeekForHeader(fd, firstBy, deadlineMs);
    if (peeked != ProxyRead::kHeader) return peeked;
    std::string bytes;
    size_t wanted = 1;
    for (;;) {
        // Exactly what the parser asks for: whatever follows the header belongs to the session.
        while (bytes.size() < wanted) {
            if (!WaitUntil(fd, deadlineMs)) return ProxyRead::kTimeout;
            char buf[256];
            const size_t ask = std::min(sizeof buf, wanted - bytes.size());
            const ssize_t n = recv(fd, buf, ask, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return ProxyRead::kInvalid;
            bytes.append(buf, static_cast<size_t>(n));
        }
        const ProxyParseResult r = ParseProxyHeader(bytes, out);
        if (r.state == ProxyParse::kDone) return ProxyRead::kHeader;
        if (r.state == ProxyParse::kInvalid) return ProxyRead::kInvalid;
        wanted = std::max(r.wanted, bytes.size() + 1);
    }
}

}  // namespace orvex
