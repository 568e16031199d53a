#include "engine/EdgeSettings.h"

#include "engine/StringUtil.h"

namespace orvex {

bool EdgeSettings::MaySendProxyHeader(std::string_view ip) const {
    for (const std::string& mask : proxyAllowed)
        if (!mask.empty() && StringUtil::WildcardMatch(mask, ip)) return true;
    return false;
}

std::string EdgeSettings::PasvAddressFor(std::string_view clientIp) const {
    for (const PasvRule& rule : pasvAddressFor)
        if (StringUtil::WildcardMatch(rule.mask, clientIp)) return rule.address;
    return pasvAddress;
}

bool ParseProxyMode(std::string_view text, ProxyMode& out) {
    static constexpr std::pair<std::string_view, ProxyMode> kModes[] = {
        {"off", ProxyMode::kOff},
        {"optional", ProxyMode::kOptional},
        {"required", ProxyMode::kRequired},
    };
    for (const auto& [name, mode] : kModes) {
        if (StringUtil::EqualNoCase(text, name)) {
            out = mode;
            return true;
        }
    }
    return false;
}

}  // namespace orvex
