#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/SocketUtil.h"

using namespace orvex;

namespace {

// A session whose control connection is a real loopback TCP connection.
struct ControlPair {
    FtpSite site;
    int listener = -1, client = -1, server = -1;
    std::unique_ptr<FtpSession> session;
    explicit ControlPair(const char* overrideIp) {
        SocketUtil::Startup();
        site.SetAccessLogLevel(0);
        site.SetProgramLogLevel(0);
        listener = SocketUtil::OpenListener("0", "127.0.0.1");
        std::string ip, port;
        SocketUtil::LocalAddress(listener, ip, port);
        client = SocketUtil::ConnectHost("127.0.0.1", port, 5);
        server = SocketUtil::Accept(listener);
        session = std::make_unique<FtpSession>(server, site, overrideIp, false);
    }
    ~ControlPair() {
        session.reset();
        SocketUtil::Close(client);
        SocketUtil::Close(server);
        SocketUtil::Close(listener);
    }
    std::string Line() {
        std::string line;
        char c;
        pollfd p{client, POLLIN, 0};
        while (poll(&p, 1, 2000) > 0 && read(client, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
};

TEST(Pasv, ListensOnTheRealAddressAndAnnouncesTheOverride) {
    ControlPair c("10.20.30.40");
    ASSERT_EQ(c.session->Pasv(Args{"PASV"}), 1);
    const std::string reply = c.Line();
    const std::string announced = "227 Entering Passive Mode (10,20,30,40,";
    ASSERT_EQ(reply.compare(0, announced.size(), announced), 0) << reply;
    unsigned high = 256, low = 256;
    char close = 0;
    ASSERT_EQ(std::sscanf(reply.c_str() + announced.size(), "%u,%u%c", &high, &low, &close), 3);
    ASSERT_TRUE(high < 256 && low < 256 && close == ')') << reply;
    ASSERT_EQ(reply.substr(reply.size() - 3), ").\r");
    const int port = static_cast<int>(high * 256 + low);
    const int data = SocketUtil::ConnectHost("127.0.0.1", std::to_string(port), 5);
    EXPECT_GE(data, 0);
    int fd = data;
    SocketUtil::Close(fd);

    // A second PASV replaces the listener: the old port stops accepting.
    ASSERT_EQ(c.session->Pasv(Args{"PASV"}), 1);
    EXPECT_NE(c.Line().find("227 "), std::string::npos);
    fd = SocketUtil::ConnectHost("127.0.0.1", std::to_string(port), 2);
    EXPECT_LT(fd, 0);
    SocketUtil::Close(fd);
}

}  // namespace
