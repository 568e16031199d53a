#pragma once
// The pieces of the exchanges between servers that share users: shared user names, the texts
// carried in parentheses of their replies, and the one-attempt passwords.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class ServerSite;

// The temporary passwords: this many capital letters from 'A' to 'Y'.
inline constexpr size_t kTemporaryPasswordLength = 16;
// Seconds a temporary password or a fetched password hash stays valid.
inline constexpr int64_t kTemporaryPasswordSeconds = 30;

struct SharedName {
    std::string user;
    std::string server;
    uint32_t port = 0;
};

// "user$server$port"; a name holding "$" already, or no server, stays as it is.
std::string MakeSharedName(std::string_view user, std::string_view server, uint64_t port);
// The parts of a valid shared name; none otherwise.
std::optional<SharedName> SplitSharedName(std::string_view name);

// A dotted IPv4 address, as servers name each other.
bool IsIpAddress(std::string_view text);
// A port given in a message: decimal, 0 to 65535.
std::optional<uint32_t> ReadPort(std::string_view text);
// A timestamp given in a message: decimal seconds.
std::optional<int64_t> ReadTimestamp(std::string_view text);

// The text after the first "(" up to the next ")", cut to `max`; none without a "(".
std::optional<std::string> ParenthesizedText(std::string_view line, size_t max);

// A reply to "SITE USERDATA": the user file made of every line before the one holding
// "Command successful" (leading blanks removed), and the password hash in that line's
// parentheses (at most 32 characters). None without such a line.
struct UserData {
    std::string file;
    std::string hash;
};
std::optional<UserData> ReadUserDataReply(const std::vector<std::string>& lines);

// A user file received from another server, as this server keeps it: unless the operator trusts
// its peers, the administering flags (and a site operator's address masks) stay as `here` has
// them; a user this server does not have yet gets none. True when `received` changed.
struct UserRecord;
bool KeepAuthorityHere(UserRecord& received, const UserRecord* here);

// 16 letters from the system's random source; none when it fails.
std::optional<std::string> MakeTemporaryPassword();

// A shared user's group exists here (made "Added from <name>" when missing), and the shared
// table holds its id.
void AdoptSharedGroup(ServerSite& site, const std::string& name);

}  // namespace orvex
