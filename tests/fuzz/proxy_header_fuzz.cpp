// The PROXY header parser: never reads past its input, a finished header uses no more bytes than
// it was given, addresses it reports are real ones, and a longer input parses the same way.

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/ProxyHeader.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    ProxyHeader h;
    const ProxyParseResult r = ParseProxyHeader(bytes, h);
    if (r.state == ProxyParse::kNeedMore && r.wanted <= bytes.size()) abort();
    if (r.state != ProxyParse::kDone) return 0;
    if (r.used == 0 || r.used > bytes.size()) abort();
    if (h.carriesClient) {
        unsigned char raw[16];
        const int family = h.sourceIp.find(':') != std::string::npos ? AF_INET6 : AF_INET;
        if (inet_pton(family, h.sourceIp.c_str(), raw) != 1) abort();
        if (inet_pton(family, h.destinationIp.c_str(), raw) != 1) abort();
        if (std::strtoul(h.sourcePort.c_str(), nullptr, 10) > 65535) abort();
    }
    ProxyHeader again;
    const ProxyParseResult longer = ParseProxyHeader(bytes + "after", again);
    if (longer.state != ProxyParse::kDone || longer.used != r.used ||
        again.sourceIp != h.sourceIp || again.sourcePort != h.sourcePort)
        abort();
    return 0;
}
