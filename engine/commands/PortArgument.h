#pragma once
// The PORT argument: "h1,h2,h3,h4,p1,p2" after any leading non-digits, every number 0..255; and
// the EPRT argument "|family|address|port|".

#include <arpa/inet.h>

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

enum class EprtParse { kOk, kBadSyntax, kUnknownFamily };

// "<d>1<d>IPv4<d>port<d>" or "<d>2<d>IPv6<d>port<d>", where <d> is one printable character other
// than a digit or a space. The address must be of the family named; the port is 0..65535.
inline EprtParse ParseEprtArgument(std::string_view text, std::string& address, unsigned& port) {
    if (text.size() < 4) return EprtParse::kBadSyntax;
    const char d = text[0];
    if (d < 33 || d > 126 || std::isdigit(static_cast<unsigned char>(d)))
        return EprtParse::kBadSyntax;
    if (text.back() != d) return EprtParse::kBadSyntax;
    std::string_view fields[3];
    std::string_view rest = text.substr(1, text.size() - 2);
    for (int k = 0; k < 3; ++k) {
        const size_t at = rest.find(d);
        if ((k < 2) == (at == std::string_view::npos)) return EprtParse::kBadSyntax;
        fields[k] = rest.substr(0, at);
        rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
    }
    int family = 0;
    if (fields[0] == "1") {
        family = AF_INET;
    } else if (fields[0] == "2") {
        family = AF_INET6;
    } else {
        bool digits = !fields[0].empty() && fields[0].size() < 4;
        for (char c : fields[0]) digits = digits && std::isdigit(static_cast<unsigned char>(c));
        return digits ? EprtParse::kUnknownFamily : EprtParse::kBadSyntax;
    }
    const std::string host(fields[1]);
    unsigned char raw[16];
    // Only the characters of plain addresses: no zone, no prefix, and no NUL that would end the
    // text early for inet_pton.
    if (host.empty() || host.size() > 45 ||
        host.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos ||
        inet_pton(family, host.c_str(), raw) != 1)
        return EprtParse::kBadSyntax;
    const std::string_view digits = fields[2];
    if (digits.empty() || digits.size() > 5) return EprtParse::kBadSyntax;
    unsigned value = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return EprtParse::kBadSyntax;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return EprtParse::kBadSyntax;
    address = host;
    port = value;
    return EprtParse::kOk;
}

}  // namespace orvex::commands
