// PASV and PORT: how the next data connections are made.

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/FtpSession.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

// "h1,h2,h3,h4,p1,p2" after any leading non-digits; every number 0..255.
bool ParsePortArgument(const std::string& text, std::string& address, unsigned& port) {
    size_t i = 0;
    while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    std::vector<unsigned> parts;
    while (parts.size() < 6) {
        size_t start = i;
        unsigned value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (value > 255) return false;
            ++i;
        }
        if (i == start) return false;
        parts.push_back(value);
        if (parts.size() < 6) {
            if (i >= text.size() || text[i] != ',') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    address = StringUtil::Format("%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    port = parts[4] * 256 + parts[5];
    return true;
}

}  // namespace

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
    if (!ParsePortArgument(args[1], address, port)) {
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
