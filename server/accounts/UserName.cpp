#include "server/accounts/UserName.h"

namespace orvex {
namespace {

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool IsValidLocalName(std::string_view name) {
    if (name.empty() || name.size() > kUserNameMax || !IsLetter(name[0])) return false;
    for (char c : name)
        if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '-') return false;
    return true;
}

bool IsValidSharedName(std::string_view name) {
    if (name.size() > kSharedNameMax) return false;
    const size_t first = name.find('$');
    const size_t second = first == std::string_view::npos ? first : name.find('$', first + 1);
    if (second == std::string_view::npos) return false;
    if (!IsValidLocalName(name.substr(0, first))) return false;
    const std::string_view server = name.substr(first + 1, second - first - 1);
    if (server.empty() || !SharedNamePort(name.substr(second + 1))) return false;
    if (server.find("..") != std::string_view::npos) return false;
    for (char c : server)
        if (!IsLetter(c) && !IsDigit(c) && c != '.' && c != '-' && c != '_' && c != ':')
            return false;
    return true;
}

std::optional<uint32_t> SharedNamePort(std::string_view text) {
    constexpr uint32_t kPortMax = 65535;
    // More digits than the name's length allows never name a port.
    if (text.empty() || text.size() > kSharedNameMax) return std::nullopt;
    uint32_t port = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        port = port * 10 + static_cast<uint32_t>(c - '0');
        if (port > kPortMax) return std::nullopt;
    }
    if (port == 0) return std::nullopt;
    return port;
}

std::string BaseUserName(std::string_view name) {
    name = name.substr(0, kUserNameMax);
    return std::string(name.substr(0, name.find('$')));
}

}  // namespace orvex
