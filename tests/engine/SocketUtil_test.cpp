#include "engine/SocketUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace su = orvex::SocketUtil;

namespace {

// A connected loopback pair made with the helpers under test.
struct Pair {
    int listener = -1, client = -1, server = -1;
    Pair() {
        listener = su::OpenListener("0", "127.0.0.1");
        std::string ip, port;
        if (listener < 0 || !su::LocalAddress(listener, ip, port)) return;
        client = su::ConnectHost("127.0.0.1", port, 5);
        if (client >= 0) server = su::Accept(listener);
    }
    ~Pair() {
        su::Close(listener);
        su::Close(client);
        su::Close(server);
    }
    bool Ok() const { return server >= 0 && client >= 0; }
};

bool CloseOnExec(int fd) {
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

TEST(SocketUtil, RecvLineBoundsAndLineEnds) {
    ASSERT_TRUE(su::Startup());
    Pair p;
    ASSERT_TRUE(p.Ok());
    std::string longLine(2000, 'x');
    longLine += "\r\n";
    ASSERT_EQ(su::SendAll(p.client, longLine.data(), longLine.size()),
              static_cast<long>(longLine.size()));
    std::string line;
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 1023);
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 978) << "977 x and the CR";
    EXPECT_EQ(line.back(), '\n') << "the LF stays in the line";

    ASSERT_EQ(su::SendLine(p.client, "\n"), 1);
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 0);
    EXPECT_EQ(line, "\n");

    ASSERT_EQ(su::SendLine(p.client, "NOOP\nignored"), 5) << "sends up to the first LF";
    ASSERT_EQ(su::SendLine(p.client, "PWD"), 4) << "adds a LF";
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 4);
    EXPECT_EQ(line, "NOOP\n");
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 3);

    ASSERT_EQ(su::SendAll(p.client, "QU", 2), 2);
    su::ShutdownBoth(p.client);
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 2) << "end of stream ends a partial line";
    EXPECT_EQ(line, "QU");
    EXPECT_EQ(su::RecvLine(p.server, line, 1024), 0) << "end of stream";
    EXPECT_EQ(su::RecvLine(-1, line, 1024), -1);
    EXPECT_EQ(su::RecvLine(p.server, line, 0), -1);
}

TEST(SocketUtil, RecvExactAndWaitReadable) {
    Pair p;
    ASSERT_TRUE(p.Ok());
    EXPECT_EQ(su::WaitReadable(p.server, 0, 0), 1) << "0/0 never waits";
    EXPECT_EQ(su::WaitReadable(p.server, 0, 50), 0) << "nothing to read";
    ASSERT_EQ(su::SendAll(p.client, "abcdef", 6), 6);
    EXPECT_GT(su::WaitReadable(p.server, 5, 0), 0);
    char buf[8] = {};
    EXPECT_EQ(su::RecvExact(p.server, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    su::ShutdownBoth(p.client);
    EXPECT_EQ(su::RecvExact(p.server, buf, 8), 2) << "end of stream stops early";
}

TEST(SocketUtil, AddressesAndCloseOnExec) {
    Pair p;
    ASSERT_TRUE(p.Ok());
    std::string ip, port, pip, pport;
    ASSERT_TRUE(su::LocalAddress(p.server, ip, port));
    EXPECT_EQ(ip, "127.0.0.1");
    ASSERT_TRUE(su::PeerAddress(p.client, pip, pport));
    EXPECT_EQ(pport, port);
    EXPECT_FALSE(su::LocalAddress(-1, ip, port));
    EXPECT_TRUE(ip.empty() && port.empty());
    for (int fd : {p.listener, p.client, p.server}) EXPECT_TRUE(CloseOnExec(fd));

    int fd = p.server;
    su::Close(fd);
    EXPECT_EQ(fd, -1);
    p.server = -1;
}

TEST(SocketUtil, ListenerAndDataSocket) {
    EXPECT_EQ(su::OpenListener("abc", nullptr), -1);
    EXPECT_EQ(su::OpenListener("21x", nullptr), -1);
    EXPECT_EQ(su::OpenListener("70000", nullptr), -1);
    EXPECT_EQ(su::OpenListener("", nullptr), -1);
    EXPECT_EQ(su::OpenListener("0", "300.1.1.1"), -1);

    std::string port;
    int d = su::OpenDataSocket(&port, "127.0.0.1", 0);
    ASSERT_GE(d, 0);
    EXPECT_NE(port, "0");
    EXPECT_TRUE(CloseOnExec(d));
    EXPECT_TRUE(su::Listen(d, 1));
    int c = su::ConnectHost("127.0.0.1", port, 5);
    EXPECT_GE(c, 0);
    su::Close(c);
    su::Close(d);
    EXPECT_FALSE(su::BindAddress(-1, nullptr, 0));
    EXPECT_FALSE(su::Listen(-1, 1));
    EXPECT_EQ(su::Accept(-1), -1);
}

TEST(SocketUtil, ConnectTimeoutAndHostFailures) {
    int l = su::OpenListener("0", "127.0.0.1");
    ASSERT_GE(l, 0);
    std::string ip, port;
    ASSERT_TRUE(su::LocalAddress(l, ip, port));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(std::stoi(port)));
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_TRUE(su::ConnectTimeout(s, &a, 5));
    EXPECT_EQ(fcntl(s, F_GETFL) & O_NONBLOCK, 0) << "blocking again afterwards";
    su::Close(s);
    su::Close(l);

    // The port is closed now: refused, not hung.
    s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_FALSE(su::ConnectTimeout(s, &a, 5));
    su::Close(s);
    EXPECT_EQ(su::ConnectHost("127.0.0.1", port, 5), -1);
    EXPECT_EQ(su::ConnectHost("no-such-host.invalid", "21", 5), -1);
    EXPECT_EQ(su::ConnectHost("127.0.0.1", "port", 5), -1);
}

TEST(SocketUtil, IpTextHelpers) {
    EXPECT_TRUE(su::IsIp("10.0.0.1"));
    EXPECT_TRUE(su::IsIp("0.0.0.0"));
    EXPECT_FALSE(su::IsIp("255.255.255.255"));
    EXPECT_FALSE(su::IsIp("1.2.3"));
    EXPECT_FALSE(su::IsIp("host.example"));
    EXPECT_FALSE(su::IsIp(""));
    // Data connections compare addresses, not texts.
    EXPECT_TRUE(su::SameAddress("127.0.0.1", "127.0.0.1"));
    EXPECT_TRUE(su::SameAddress("127.0.0.1", "::ffff:127.0.0.1"));
    EXPECT_TRUE(su::SameAddress("::1", "0:0:0:0:0:0:0:1"));
    EXPECT_FALSE(su::SameAddress("127.0.0.1", "127.0.0.2"));
    EXPECT_FALSE(su::SameAddress("127.0.0.1", "::1"));
    EXPECT_FALSE(su::SameAddress("x", "127.0.0.1"));
    for (const char* any : {"0.0.0.0", "::", "::ffff:0.0.0.0", "0:0::0"})
        EXPECT_TRUE(su::IsUnspecified(any)) << any;
    for (const char* some : {"0.0.0.1", "::1", "10.0.0.0", "", "zero"})
        EXPECT_FALSE(su::IsUnspecified(some)) << some;
    std::string first = su::FirstNonLoopbackIp();
    EXPECT_TRUE(su::IsIp(first)) << first;
    EXPECT_EQ(su::ReverseLookup("not an ip"), "");
}

}  // namespace
