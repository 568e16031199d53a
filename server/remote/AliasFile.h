#pragma once
// One remote alias as the alias file keeps it, and the line format of that file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Visible limits of the record's text fields (characters).
inline constexpr size_t kAliasPathMax = 264;   // alias directory, remote and local path
inline constexpr size_t kAliasTextMax = 79;    // address, user name, encrypted password
inline constexpr size_t kAliasFieldCut = 262;  // path fields as read, before normalising
inline constexpr size_t kAliasPasswordMax = 16;
inline constexpr uint32_t kAliasDefaultTimeout = 600;

struct AliasRecord {
    char serverType = 'G';  // 'D' another orvex, 'G' any FTP server
    uint32_t shareUsers = 0;
    uint32_t maxLogins = 0;  // 0: unlimited
    std::string directory;   // the key: absolute internal path ending in a backslash
    std::string address;
    uint32_t port = 0;
    std::string user;
    std::string password;  // encrypted, hex
    std::string remotePath = "/";
    std::string localPath;
    uint32_t encMode = 0;                     // 0 clear, 2 or 3 "AUTH SSL" then TLS
    uint32_t timeout = kAliasDefaultTimeout;  // idle seconds a pooled connection is kept; 0 ever
    bool operator==(const AliasRecord&) const = default;
};

namespace AliasFile {

inline constexpr const char* kHeader =
    "# Alias;Address;Port;Username;EncryptedPassword;RemotePath;ServerType;MaxLogins;ShareUsers;"
    "LocalPath;EncryptionMode;Timeout\n#\n";

// The records of a file's text in file order; malformed lines are skipped and a second line for
// a directory already read (any case) is ignored.
std::vector<AliasRecord> Parse(std::string_view text);
// One line with its line feed.
std::string FormatLine(const AliasRecord& r);
// The header and every record.
std::string Format(const std::vector<AliasRecord>& records);

// A line split at ";" and TAB, empty fields kept (the remote tables share this form).
std::vector<std::string_view> SplitFields(std::string_view line);

// Directory forms: a local path gets a leading backslash (unless drive-qualified) and a trailing
// one, with slashes turned into backslashes; a remote path the same with forward slashes.
std::string LocalForm(std::string_view path);
std::string RemoteForm(std::string_view path);

// A path field as read: within the record's width it keeps every character, so a path of full
// width reads back as written; a longer one is cut as typed values are, then normalised by `form`.
std::string ReadPathField(std::string_view field, std::string (*form)(std::string_view));

// A value that can stand in one field of the file: no separator, comment mark, TAB, CR, LF.
bool IsStorable(std::string_view value);
// A record whose every field reads back as written.
bool IsStorable(const AliasRecord& r);

// The stored form of a password and back; the key is the user name written twice.
std::string EncryptPassword(std::string_view user, std::string_view plain);
std::optional<std::string> DecryptPassword(std::string_view user, std::string_view stored);

}  // namespace AliasFile
}  // namespace orvex
