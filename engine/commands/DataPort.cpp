// PASV and PORT: how the next data connections are made.

#include <cstdlib>
#include <string>

#include "engine/FtpSession.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "engine/commands/PortArgument.h"

namespace orvex {

namespace {
constexpr unsigned kLastServicePort = 1024;
}

int FtpSession::Pasv(const Args& args) {
    ClosePassiveListener();
    passive_ = true;

    // The listener sits on the control connection's real address; an override address is only
    // what the reply announces.
    std::string bindIp, ignored;
    if (!SocketUtil::LocalAddress(controlFd_, bindIp, ignored) || bindIp.empty()) bindIp = localIp_;
    std::string portText;
    int fd = -1;
    if (site_.OpenPassiveSocket(portText, fd, bindIp) == -1) {
        fd = SocketUtil::OpenDataSocket(&portText, bindIp, 0);
    }
    if (fd < 0) {
        Respond(args, "Unable to bind to a port.", "500", true, true, true);
        return 0;
    }
    dataListener_ = fd;
    if (!SocketUtil::Listen(fd, 0)) {
        Respond(args, SetMessage("Unable to listen on port %s (sd = %d).", portText.c_str(), fd),
                "500", true, true, true);
        ClosePassiveListener();
        return 0;
    }
    const unsigned port = static_cast<unsigned>(std::strtoul(portText.c_str(), nullptr, 10));
    std::string shown = localIp_;
    for (char& c : shown)
        if (c == '.') c = ',';
    Respond(args,
            SetMessage("Entering Passive Mode (%s,%hu,%hu).", shown.c_str(),
                       static_cast<unsigned short>((port >> 8) & 0xff),
                       static_cast<unsigned short>(port & 0xff)),
            "227");
    return 1;
}

int FtpSession::Port(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    std::string address;
    unsigned port = 0;
    // Nobody listens on port 0 or at 0.0.0.0; a service port (1024 and below) is where a bounce
    // does harm, so the site must allow those.
    if (!commands::ParsePortArgument(args[1], address, port) || port == 0 ||
        SocketUtil::IsUnspecified(address) ||
        (port <= kLastServicePort && !site_.AllowServicePorts())) {
        Respond(args, "Invalid PORT command.", "500");
        return 0;
    }
    passive_ = false;
    ClosePassiveListener();
    portAddress_ = address;
    portNumber_ = std::to_string(port);
    Respond(args, "PORT command successful.", "200");
    return 1;
}

}  // namespace orvex
