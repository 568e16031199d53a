#include "engine/ProxyHeader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "engine/Clock.h"
#include "engine/EdgeSettings.h"

namespace orvex {
namespace {

std::string V2(unsigned char command, unsigned char family, std::string body) {
    std::string h("\r\n\r\n\0\r\nQUIT\n", 12);
    h += static_cast<char>(0x20 | command);
    h += static_cast<char>(family);
    h += static_cast<char>(body.size() >> 8);
    h += static_cast<char>(body.size() & 0xff);
    return h + body;
}

const std::string kV2Tcp4Body("\xc0\x00\x02\x01\x7f\x00\x00\x01\x9c\x40\x00\x15", 12);

TEST(ProxyHeaderTest, ParsesBothVersions) {
    struct Case {
        std::string bytes;
        ProxyParse state;
        bool carriesClient;
        std::string source, sourcePort, destination;
    };
    std::string tcp6Body(36, '\0');
    tcp6Body[15] = 1;   // ::1
    tcp6Body[31] = 2;   // ::2
    tcp6Body[33] = 80;  // source port 80
    const Case cases[] = {
        {"PROXY TCP4 192.0.2.1 127.0.0.1 40000 21\r\n", ProxyParse::kDone, true, "192.0.2.1",
         "40000", "127.0.0.1"},
        {"PROXY TCP6 2001:db8::1 ::1 1 65535\r\n", ProxyParse::kDone, true, "2001:db8::1", "1",
         "::1"},
        {"PROXY UNKNOWN whatever follows\r\n", ProxyParse::kDone, false, "", "", ""},
        {"PROXY TCP4 192.0.2.1 127.0.0.1 40000", ProxyParse::kNeedMore, false, "", "", ""},
        {"PROX", ProxyParse::kNeedMore, false, "", "", ""},
        {"PROXY TCP4 192.0.2.1 127.0.0.1 40000 21\n", ProxyParse::kInvalid, false, "", "", ""},
        {"PROXY TCP4 ::1 127.0.0.1 40000 21\r\n", ProxyParse::kInvalid, false, "", "", ""},
        {"PROXY TCP4 192.0.2.1 127.0.0.1 65536 21\r\n", ProxyParse::kInvalid, false, "", "", ""},
        {"PROXY TCP4 192.0.2.1 127.0.0.1 021 21\r\n", ProxyParse::kInvalid, false, "", "", ""},
        {"PROXY TCP5 192.0.2.1 127.0.0.1 1 21\r\n", ProxyParse::kInvalid, false, "", "", ""},
        {"PROXY " + std::string(120, 'x'), ProxyParse::kInvalid, false, "", "", ""},
        {"USER anonymous\r\n", ProxyParse::kInvalid, false, "", "", ""},
        // TLV fields after the addresses are skipped.
        {V2(1, 0x11, kV2Tcp4Body + std::string("\x04\x00\x01\x00", 4)), ProxyParse::kDone, true,
         "192.0.2.1", "40000", "127.0.0.1"},
        {V2(1, 0x21, tcp6Body), ProxyParse::kDone, true, "::1", "80", "::2"},
        {V2(0, 0x11, kV2Tcp4Body), ProxyParse::kDone, false, "", "", ""},  // LOCAL
        {V2(1, 0x00, ""), ProxyParse::kDone, false, "", "", ""},           // UNSPEC
        {V2(1, 0x11, kV2Tcp4Body.substr(0, 8)), ProxyParse::kInvalid, false, "", "", ""},
        {V2(2, 0x11, kV2Tcp4Body), ProxyParse::kInvalid, false, "", "", ""},
        {V2(1, 0x11, kV2Tcp4Body).substr(0, 20), ProxyParse::kNeedMore, false, "", "", ""},
    };
    for (const Case& c : cases) {
        ProxyHeader h;
        const ProxyParseResult r = ParseProxyHeader(c.bytes, h);
        EXPECT_EQ(r.state, c.state) << c.bytes;
        if (r.state == ProxyParse::kNeedMore) {
            EXPECT_GT(r.wanted, c.bytes.size()) << c.bytes;
        }
        if (r.state != ProxyParse::kDone) continue;
        EXPECT_EQ(r.used, c.bytes.size()) << c.bytes;
        EXPECT_EQ(h.carriesClient, c.carriesClient) << c.bytes;
        EXPECT_EQ(h.sourceIp, c.source) << c.bytes;
        EXPECT_EQ(h.sourcePort, c.sourcePort) << c.bytes;
        EXPECT_EQ(h.destinationIp, c.destination) << c.bytes;
    }
}

// The reader takes the header and leaves what follows (a TLS hello, a command) on the socket;
// a connection without a header keeps all its bytes.
TEST(ProxyHeaderTest, ReaderTakesExactlyTheHeader) {
    const std::string v1 = "PROXY TCP4 192.0.2.1 127.0.0.1 40000 21\r\n";
    const std::string v2 = V2(1, 0x11, kV2Tcp4Body);
    const struct {
        std::string sent;
        ProxyRead expected;
        std::string left;
    } cases[] = {
        {v1 + "USER a\r\n", ProxyRead::kHeader, "USER a\r\n"},
        {v2 + "\x16\x03\x01", ProxyRead::kHeader, "\x16\x03\x01"},
        {"USER a\r\n", ProxyRead::kNone, "USER a\r\n"},
        {"PROXY TCP4 junk\r\nUSER a\r\n", ProxyRead::kInvalid, ""},
        {"", ProxyRead::kTimeout, ""},
    };
    for (const auto& c : cases) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        ASSERT_EQ(write(sv[1], c.sent.data(), c.sent.size()), static_cast<ssize_t>(c.sent.size()));
        ProxyHeader h;
        EXPECT_EQ(ReadProxyHeader(sv[0], 200, Clock::MonotonicMs() + 2000, h), c.expected)
            << c.sent;
        if (!c.left.empty()) {
            char buf[64] = {};
            EXPECT_EQ(std::string(buf, recv(sv[0], buf, sizeof buf, MSG_DONTWAIT)), c.left);
        }
        if (c.expected == ProxyRead::kHeader) {
            EXPECT_EQ(h.sourceIp, "192.0.2.1");
        }
        close(sv[0]);
        close(sv[1]);
    }
}

TEST(ProxyHeaderTest, EdgeSettingsMatchMasksInOrder) {
    EdgeSettings e;
    e.proxyAllowed = {"10.0.0.*", "192.0.2.7"};
    e.pasvAddress = "control";
    e.pasvAddressFor = {{"10.*", "10.0.0.1"}, {"*", "198.51.100.1"}};
    EXPECT_TRUE(e.MaySendProxyHeader("10.0.0.5"));
    EXPECT_TRUE(e.MaySendProxyHeader("192.0.2.7"));
    EXPECT_FALSE(e.MaySendProxyHeader("192.0.2.70"));
    EXPECT_EQ(e.PasvAddressFor("10.1.2.3"), "10.0.0.1");
    EXPECT_EQ(e.PasvAddressFor("192.0.2.1"), "198.51.100.1");
    e.pasvAddressFor.clear();
    EXPECT_EQ(e.PasvAddressFor("192.0.2.1"), "control");
    ProxyMode mode = ProxyMode::kOff;
    EXPECT_TRUE(ParseProxyMode("Required", mode));
    EXPECT_EQ(mode, ProxyMode::kRequired);
    EXPECT_FALSE(ParseProxyMode("on", mode));
}

}  // namespace
}  // namespace orvex
