#pragma once
// The passwd file: "name;password;uid;gid;added;home" per local account.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/FtpSite.h"
#include "engine/KeyedList.h"

namespace orvex {

inline constexpr const char* kPasswdListName = "Password List Header";

// Field limits of an account record.
inline constexpr size_t kAccountNameMax = 63;
inline constexpr size_t kAccountPasswordMax = 63;
inline constexpr size_t kAccountIdMax = 15;
inline constexpr size_t kAccountDateMax = 63;
inline constexpr size_t kAccountHomeMax = 264;

// The home directory as read: a "./" value lies under `rootPath`, anything else is made absolute.
// An empty value stays empty rather than becoming the root of the disk.
std::string ReadHomeField(std::string_view field, std::string_view rootPath);

// Appends the accounts of `text` to `out`; malformed lines and repeated names (in any case) are
// skipped, so the first line of a name wins.
void ParsePasswdFile(std::string_view text, std::string_view rootPath, KeyedList<Account>& out);

// One line, with a line feed; a home under `rootPath` is written as "./" and the rest, in slashes.
std::string FormatPasswdLine(const Account& a, std::string_view rootPath);

// The whole file: the header lines, then one line per entry in list order.
std::string FormatPasswdFile(const KeyedList<Account>& list, std::string_view rootPath);

// True when every field can be written without breaking its line.
bool IsWritableAccount(const Account& a);

}  // namespace orvex
