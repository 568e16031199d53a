#pragma once
// How the server meets a load balancer in front of it: the PROXY header, the address PASV
// announces, and whether TLS data connections must resume the control connection's session.

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

enum class ProxyMode { kOff, kOptional, kRequired };

struct EdgeSettings {
    struct PasvRule {
        std::string mask;
        std::string address;
    };

    ProxyMode proxyMode = ProxyMode::kOff;
    std::vector<std::string> proxyAllowed;  // address masks that may send a header
    std::string pasvAddress;                // empty: the server's own rule; "control"; an address
    std::vector<PasvRule> pasvAddressFor;   // first match wins
    bool tlsDataReuse = true;

    bool MaySendProxyHeader(std::string_view ip) const;
    // What PASV announces to a client at `clientIp`: an address, "control", or empty when the
    // server's own rule applies.
    std::string PasvAddressFor(std::string_view clientIp) const;
};

// "off", "optional" or "required" (any case); false for anything else.
bool ParseProxyMode(std::string_view text, ProxyMode& out);

}  // namespace orvex
