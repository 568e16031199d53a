#pragma once
// The line format of the filesystem journal (fs/orvex.journal): one change of the records per
// line, "seq;kind;field;...;check". The sequence number orders the changes and lets a replay
// skip a change it has already seen; the check (eight hex digits over the text before it) tells
// a whole line from one a crash cut short. In fields, "%", ";", CR and LF are written as %25,
// %3B, %0D and %0A, so any text can be journaled.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::JournalFormat {

// The changes and their fields.
// D path;id;mode;owner;group;ratio;dupe switch;mirror id  directory record set
// F path;mode;owner;group;size;free;earned               file record set (earned: -1 unknown)
// d prefix   directory records under it deleted          X path   that directory record deleted
// f path     file record deleted                         E path   the directory's files dropped
// M old;new  directory records re-keyed
// A name;uploader;time   dupe entry set                  R mask   dupe entries matching removed
// r name     dupe entry of exactly that name removed
// C digest   a write-back has written every file but orvex.fs; digest of the orvex.fs it writes
size_t FieldCount(char kind);  // 0 for an unknown kind

struct Entry {
    uint64_t seq = 0;
    char kind = 0;
    std::vector<std::string> fields;
    bool operator==(const Entry&) const = default;
};

inline constexpr const char* kHeader =
    "# Seq;Change;Fields;Check\n"
    "#\n"
    "# The changes of the filesystem records since the last write-back of the\n"
    "# filesystem files. The server replays them at start-up.\n"
    "#\n";

// One line with its line feed.
std::string FormatLine(uint64_t seq, char kind, const std::vector<std::string_view>& fields);
// One line without its line end; none when it is malformed or its check does not match.
std::optional<Entry> ParseLine(std::string_view line);

struct Read {
    std::vector<Entry> entries;
    std::vector<int> badLines;  // line numbers (from 1) of unreadable entries
    bool tornTail = false;      // the text ends inside a line
};
// A whole journal: comment and empty lines are skipped; a last line without its line feed is
// the entry a crash cut short.
Read ReadText(std::string_view text);

// 64-bit FNV-1a, stable across builds: the journal keeps it.
uint64_t Digest(std::string_view text);
std::string DigestText(uint64_t digest);

// Decimal fields of entries; none when the field is no such number.
std::optional<uint64_t> Unsigned(std::string_view field);
std::optional<int64_t> Signed(std::string_view field);

}  // namespace orvex::JournalFormat
