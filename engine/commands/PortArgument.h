#pragma once
// The PORT argument: "h1,h2,h3,h4,p1,p2" after any leading non-digits, every number 0..255.

#include <cctype>
#include <string>
#include <string_view>

#include "engine/StringUtil.h"

namespace orvex::commands {

inline bool ParsePortArgument(std::string_view text, std::string& address, unsigned& port) {
    size_t i = 0;
    while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    unsigned parts[6] = {};
    for (int k = 0; k < 6; ++k) {
        const size_t start = i;
        unsigned value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (value > 255) return false;
            ++i;
        }
        if (i == start) return false;
        parts[k] = value;
        if (k < 5) {
            if (i >= text.size() || text[i] != ',') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    address = StringUtil::Format("%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    port = parts[4] * 256 + parts[5];
    return true;
}

}  // namespace orvex::commands
