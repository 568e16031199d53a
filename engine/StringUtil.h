#pragma once
// Stateless string helpers shared by every subsystem.

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::StringUtil {

int CompareNoCase(std::string_view a, std::string_view b);  // <0, 0, >0
int CompareNoCaseN(std::string_view a, std::string_view b, size_t n);
bool EqualNoCase(std::string_view a, std::string_view b);
size_t ToLower(std::string& s);  // returns the length
void ToUpper(std::string& s);
std::string Lowered(std::string_view s);
std::string Uppered(std::string_view s);

size_t StripEol(std::string& s);  // cut at the first CR and at the first LF
// Cut at the first CR or LF and append CR LF; false when the result would exceed `capacity`-1.
bool MakeCrlf(std::string& s, size_t capacity = std::string::npos);
// Appends, keeping at most capacity-1 characters; false when `s` was already full.
bool AppendBounded(std::string& s, std::string_view add, size_t capacity);
// Keeps at most `max` characters.
void Truncate(std::string& s, size_t max);

bool IsInteger(std::string_view s);  // "" is true, "-" false, digits with an optional leading '-'
void CutAt(std::string& s, std::string_view pattern);

// printf into a string. Never pass client text as `fmt`.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list ap);
// printf keeping at most capacity-1 characters (the visible limit of a fixed-size field).
std::string FormatBounded(size_t capacity, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

std::string EscapeQuotes(std::string_view s);  // backslash before every backslash and quote
// A value as a log line may carry it: ';' (the field separator) and every byte outside printable
// ASCII become "\xNN", so client text can neither forge fields nor put binary into a log.
std::string EscapeLogField(std::string_view s);

// Case-sensitive; only '*' is special and matches any run of characters, empty included.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Replaces escape+letter by that letter's value (letters[i] -> values[i]); a doubled escape gives
// one escape; escape+other gives nothing; a lone trailing escape ends the output.
std::string ExpandTemplate(std::string_view tmpl, std::string_view letters,
                           const std::vector<std::string>& values, char escape = '%');

}  // namespace orvex::StringUtil
