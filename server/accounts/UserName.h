#pragma once
// User names: local names, and the "user$server$port" names of users from other servers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

inline constexpr size_t kUserNameMax = 16;
inline constexpr size_t kSharedNameMax = 63;

// 1 to 16 characters: a letter, then letters, digits, "_" and "-". Group names follow it too.
bool IsValidLocalName(std::string_view name);

// A "$" in a user name always means a user of another server.
inline bool IsSharedName(std::string_view name) {
    return name.find('$') != std::string_view::npos;
}

// "user$server$port": a valid local name, a server address of letters, digits, ".", "-", "_" and
// ":", and a port (SharedNamePort); at most 63 characters in all.
bool IsValidSharedName(std::string_view name);
// The port part of a shared name: decimal digits naming 1 to 65535; none otherwise.
std::optional<uint32_t> SharedNamePort(std::string_view text);

// A name that may be looked up as a file in the users folder.
inline bool IsValidUserName(std::string_view name) {
    return IsSharedName(name) ? IsValidSharedName(name) : IsValidLocalName(name);
}

// The first 16 characters, cut at the first "$".
std::string BaseUserName(std::string_view name);

}  // namespace orvex
