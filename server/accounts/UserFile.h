#pragma once
// The user file: one keyword line per field of the user record.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountText.h"
#include "server/accounts/UserRecord.h"

namespace orvex {

// Where local users live: the configured site address and FTP port.
struct LocalHome {
    std::string siteIp;
    uint32_t serverPort = 21;
};

// A start-up directory as stored: relative to the home directory, in backslash form, ending in a
// backslash. ".." cannot climb out, spaces around names are dropped (the file format could not
// keep them), and a path too long for the field loses its last directories.
std::string StartDirectory(std::string_view value);

// The record a file starts from: zero, both simultaneous-transfer limits -1, and the home server
// and port from a shared name or else from `local`.
UserRecord FreshUserRecord(std::string_view userName, const LocalHome& local);

// Reads a user file's text into `rec`. Bad lines are logged and skipped. False when the text has
// no valid GENERAL line, which makes the file unusable.
bool ParseUserFile(std::string_view text, std::string_view userName, UserRecord& rec,
                   const AccountLog& log);

// The file text of `rec`, every field in its fixed order.
std::string FormatUserFile(const UserRecord& rec);

// Reads and parses the file at `path` into a fresh record with its file stamps. False when the
// file cannot be read or has no GENERAL line; `out` is then untouched.
bool ReadUserFile(std::string_view path, std::string_view userName, const LocalHome& local,
                  UserRecord& out, const AccountLog& log);

// Writes `rec` to `path` (atomically; with `replace` false only when no such file exists) and sets
// its stamps from the new file. `stillCurrent` as for WriteFileAtomically.
bool WriteUserFile(std::string_view path, UserRecord& rec, bool replace = true,
                   const std::function<bool()>& stillCurrent = {},
                   Durability durability = Durability::Synced);

// The stamps of the file at `path`: modification time and size, and the creation time.
bool ReadUserFileStamps(std::string_view path, FileStamp& stamp, int64_t& created);

}  // namespace orvex
