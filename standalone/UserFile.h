#pragma once
// The user file: one user a line, "<name>;<encrypted password>;<home>;<permissions>", '#'
// starting a comment.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "standalone/StandaloneSite.h"

namespace orvex {

inline constexpr const char* kDefaultUserFile = "vantor.cfg";
// Lines are read in pieces of at most this many characters.
inline constexpr size_t kUserFilePiece = 1023;

enum class UserLine {
    Skipped,  // blank, comment or fewer than four fields
    Loaded,
    BadHome,  // `out` holds the name and the normalised home for the warning
};

// One piece of the file. The home must be an existing directory.
UserLine ParseUserLine(std::string_view line, UserRecord& out);

// Loads `path` into `out` (emptied first); first spelling of a name wins. Warnings about bad
// homes go to `warnings`. The number of users added, or none when the file cannot be read.
std::optional<int> LoadUserFile(const std::string& path, UserList& out, FILE* warnings);

// The line appended for a new user, line feed included.
std::string FormatUserLine(const UserRecord& user);
bool AppendUserLine(const std::string& path, const UserRecord& user);

}  // namespace orvex
