// PASV, PORT, EPSV and EPRT: how the next data connections are made.

#include <cstdlib>
#include <string>

#include "engine/FtpSession.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "engine/commands/PortArgument.h"

namespace orvex {

bool FtpSession::RefusedAfterEpsvAll(const Args& args) {
    if (!epsvAll_) return false;
    Respond(args, SetMessage("%s not allowed after EPSV ALL.", args[0].c_str()), "503");
    return true;
}

unsigned FtpSession::OpenPassive(const Args& args) {
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
    return static_cast<unsigned>(std::strtoul(portText.c_str(), nullptr, 10));
}

std::string FtpSession::AnnouncedPassiveAddress() const {
    // Behind a balancer or a NAT the site says which address reaches it from where; "control"
    // is the address the client connected to, which a PROXY header names.
    const std::string rule = site_.Edge().PasvAddressFor(peerIp_);
    if (rule.empty()) return localIp_;
    if (rule != "control") return rule;
    if (!proxyDestination_.empty()) return proxyDestination_;
    std::string ip, port;
    SocketUtil::LocalAddress(controlFd_, ip, port);
    return ip;
}

int FtpSession::Pasv(const Args& args) {
    if (RefusedAfterEpsvAll(args)) return 0;
    // The reply of PASV has room for an IPv4 address only.
    if (controlIpv6_) {
        Respond(args, "Network protocol not supported, use EPSV.", "522");
        return 0;
    }
    const unsigned port = OpenPassive(args);
    if (port == 0) return 0;
    // An announced address that is no IPv4 address cannot go into this reply: the real one can.
    std::string shown = AnnouncedPassiveAddress(), ignored;
    if (!SocketUtil::IsIp(shown)) SocketUtil::LocalAddress(controlFd_, shown, ignored);
    for (char& c : shown)
        if (c == '.') c = ',';
    Respond(args,
            SetMessage("Entering Passive Mode (%s,%hu,%hu).", shown.c_str(),
                       static_cast<unsigned short>((port >> 8) & 0xff),
                       static_cast<unsigned short>(port & 0xff)),
            "227");
    return 1;
}

int FtpSession::Epsv(const Args& args) {
    if (args.size() >= 2) {
        const std::string& what = args[1];
        if (StringUtil::EqualNoCase(what, "ALL")) {
            epsvAll_ = true;
            Respond(args, "EPSV ALL command successful.", "200");
            return 1;
        }
        // The listener can only be of the control connection's own family.
        const char* own = controlIpv6_ ? "2" : "1";
        if (what != own) {
            Respond(args, SetMessage("Network protocol not supported, use (%s).", own), "522");
            return 0;
        }
    }
    const unsigned port = OpenPassive(args);
    if (port == 0) return 0;
    Respond(args, SetMessage("Entering Extended Passive Mode (|||%u|).", port), "229");
    return 1;
}

void FtpSession::UseActiveAddress(const std::string& address, unsigned port) {
    passive_ = false;
    ClosePassiveListener();
    portAddress_ = address;
    portNumber_ = std::to_string(port);
}

int FtpSession::Port(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    if (RefusedAfterEpsvAll(args)) return 0;
    std::string address;
    unsigned port = 0;
    if (!site_.AcceptsPortTarget(args[1], address, port)) {
        Respond(args, "Invalid PORT command.", "500");
        return 0;
    }
    UseActiveAddress(address, port);
    Respond(args, "PORT command successful.", "200");
    return 1;
}

int FtpSession::Eprt(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    if (RefusedAfterEpsvAll(args)) return 0;
    std::string address;
    unsigned port = 0;
    const commands::EprtParse parsed = commands::ParseEprtArgument(args[1], address, port);
    if (parsed == commands::EprtParse::kUnknownFamily) {
        Respond(args, "Network protocol not supported, use (1,2).", "522");
        return 0;
    }
    // Some clients name the unspecified address of their data socket ("::"): that can only
    // mean the client itself.
    if (parsed == commands::EprtParse::kOk && SocketUtil::IsUnspecified(address)) address = peerIp_;
    if (parsed != commands::EprtParse::kOk || !site_.UsableActiveTarget(address, port)) {
        Respond(args, "Invalid EPRT command.", "500");
        return 0;
    }
    UseActiveAddress(address, port);
    Respond(args, "EPRT command successful.", "200");
    return 1;
}

}  // namespace orvex
