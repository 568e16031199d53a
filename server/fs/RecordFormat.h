#pragma once
// The line formats of the filesystem tables (orvex.fs, the per-directory file lists, the dupe log
// and the links file), the rules for what may be kept in them, and how record keys compare.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/accounts/AccountText.h"
#include "server/fs/FsRecords.h"

namespace orvex::RecordFormat {

// The same line reading for all four tables: lines through a 1024-byte buffer, cut at CR, LF
// and "#", split at ";" and TAB with empty fields kept.
inline constexpr size_t kMaxFields = 8;
struct Fields {
    std::string_view at[kMaxFields];
    size_t count = 0;  // every field of the line, also those beyond kMaxFields
};
Fields SplitFields(std::string_view line);
template <typename Each>
void ForEachRecord(std::string_view text, Each&& each) {
    AccountText::ForEachLine(text,
                             [&each](std::string_view line, int) { each(SplitFields(line)); });
}

// Leading decimal digits, saturating; anything else reads as 0.
uint64_t ReadUnsigned64(std::string_view field);

// A stored path: one leading "." dropped, then either rooted (a leading backslash unless
// drive-qualified) or, with `stripLeading`, without a leading separator; backslashes, and a
// trailing backslash unless empty.
std::string NormaliseStoredPath(std::string_view path, bool stripLeading = false);

// What a table line can hold: no field separator, comment mark, control character or
// wildcard. Names outside this are refused for new entries and never written.
bool IsStorableText(std::string_view text);

// Record keys are disk paths, and Linux names are case-sensitive: "Foo" and "foo" are two
// entries. Every comparison of keys and key prefixes goes through these two.
inline bool SameKey(std::string_view a, std::string_view b) {
    return a == b;
}
inline bool KeyUnder(std::string_view path, std::string_view prefix) {
    return path.size() >= prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

inline constexpr const char* kDirectoryHeader =
    "# Path;DirID;Permissions;UserID;GroupID;Ratio;DupeDisable;MirrorID\n"
    "#\n"
    "# This file is used to keep track of all the directories and files\n"
    "# that are created or destroyed through the ORVEX server.\n"
    "#\n";
std::string FileListHeader(int32_t directoryId);
inline constexpr const char* kDupeHeader = "# Filename;UserID;TimeAdded\n#\n";
inline constexpr const char* kLinksHeader = "# target_dir;source_dir\n#\n";

// One record from the fields of a line; none when the line has too few fields. A directory's
// id is returned as stored: the loader decides what to do with ids that cannot be used.
std::optional<DirectoryRecord> ParseDirectoryLine(const Fields& f);
std::optional<FileRecord> ParseFileLine(const Fields& f);
std::optional<DupeRecord> ParseDupeLine(const Fields& f);
std::optional<DirectoryLink> ParseLinkLine(const Fields& f);

// Each line ends in a line feed; empty when a text of the record cannot be stored.
std::string FormatDirectoryLine(const DirectoryRecord& r);
std::string FormatFileLine(const FileRecord& r);
std::string FormatDupeLine(const DupeRecord& r);
std::string FormatLinkLine(const DirectoryLink& r);

}  // namespace orvex::RecordFormat
