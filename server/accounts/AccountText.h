#pragma once
// Reading helpers shared by the user, passwd and group files.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {
// Where the account stores send their program-log lines (category "MAIN").
using AccountLog = std::function<void(const std::string&)>;

// Outcome of a read-modify-write of one record: written, left alone by the change, no such
// record, or changed in memory but not written.
enum class RecordUpdate { Saved, Unchanged, Unknown, WriteFailed };

// Ids that something outside a store still refers to, so that the store never hands them to a
// newcomer. Asked before the store takes its lock.
using ReservedIds = std::function<std::vector<int32_t>()>;
}  // namespace orvex

namespace orvex::AccountText {

// The line buffer of the account files: a longer line is read as several lines.
inline constexpr size_t kLineBuffer = 1024;

// Calls `line(text, number)` for every line as read through that buffer, numbered from 1, each
// cut at its first CR, LF and "#".
void ForEachLine(std::string_view text, const std::function<void(std::string_view, int)>& line);

// Leading sign and digits; anything else reads as 0. Clamped to what 32 bits can hold either
// signed or unsigned, so every value the files write reads back with the same bits.
int64_t ReadNumber(std::string_view token);
inline int32_t ReadSigned(std::string_view token) {
    return static_cast<int32_t>(static_cast<uint32_t>(ReadNumber(token)));
}
inline uint32_t ReadUnsigned(std::string_view token) {
    return static_cast<uint32_t>(ReadNumber(token));
}

// The node id of an account or group id text: its number, and 100 when it reads as 0.
inline int32_t NodeId(std::string_view idText) {
    const int32_t id = ReadSigned(idText);
    return id == 0 ? 100 : id;
}

// The site's path forms: slashes become backslashes, one leading "." is dropped, and the result
// ends in a backslash. Absolute gains a leading backslash unless drive-qualified or rooted;
// relative loses a leading separator instead, and stays empty when nothing is left.
std::string AbsolutePath(std::string_view path);
std::string RelativePath(std::string_view path);

// A value that can be written as one field of a ";" table: no separator, comment, tab, line end
// or NUL.
bool IsTableField(std::string_view value);

// Today's date as accounts record when they were added: "%m-%d-%y".
std::string Today();

// `value` with CR, LF and NUL turned into spaces, so that a text field stays on its own line.
std::string OneLine(std::string_view value);

}  // namespace orvex::AccountText
