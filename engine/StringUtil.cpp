#include "engine/StringUtil.h"

#include <cctype>
#include <cstdio>

namespace orvex::StringUtil {

namespace {
inline int Low(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}
inline int Up(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}
}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int d = Low(a[i]) - Low(b[i]);
        if (d != 0) return d < 0 ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int CompareNoCaseN(std::string_view a, std::string_view b, size_t n) {
    return CompareNoCase(a.substr(0, n), b.substr(0, n));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

size_t ToLower(std::string& s) {
    for (char& c : s) c = static_cast<char>(Low(c));
    return s.size();
}

void ToUpper(std::string& s) {
    for (char& c : s) c = static_cast<char>(Up(c));
}

std::string Lowered(std::string_view s) {
    std::string r(s);
    ToLower(r);
    return r;
}

std::string Uppered(std::string_view s) {
    std::string r(s);
    ToUpper(r);
    return r;
}

size_t StripEol(std::string& s) {
    size_t p = s.find_first_of("\r\n");
    if (p != std::string::npos) s.resize(p);
    return s.size();
}

bool MakeCrlf(std::string& s, size_t capacity) {
    StripEol(s);
    // Room for the text, CR, LF and the terminator of a fixed-size field.
    if (capacity != std::string::npos && s.size() + 3 > capacity) return false;
    s += "\r\n";
    return true;
}

bool AppendBounded(std::string& s, std::string_view add, size_t capacity) {
    if (capacity == 0 || s.size() + 1 >= capacity) return false;
    size_t room = capacity - 1 - s.size();
    s.append(add.substr(0, room));
    return true;
}

void Truncate(std::string& s, size_t max) {
    if (s.size() > max) s.resize(max);
}

bool IsInteger(std::string_view s) {
    if (s.empty()) return true;
    if (s == "-") return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i == 0 && s[i] == '-') continue;
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

void CutAt(std::string& s, std::string_view pattern) {
    if (pattern.empty()) return;
    size_t p = s.find(pattern);
    if (p != std::string::npos) s.resize(p);
}

std::string FormatV(const char* fmt, va_list ap) {
    if (!fmt) return {};
    char small[256];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
    std::string out(static_cast<size_t>(n) + 1, '\0');
    va_copy(copy, ap);
    vsnprintf(out.data(), out.size(), fmt, copy);
    va_end(copy);
    out.resize(n);
    return out;
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = FormatV(fmt, ap);
    va_end(ap);
    return s;
}

std::string FormatBounded(size_t capacity, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = FormatV(fmt, ap);
    va_end(ap);
    Truncate(s, capacity == 0 ? 0 : capacity - 1);
    return s;
}

std::string EscapeQuotes(std::string_view s) {
    std::string r;
    r.reserve(s.size() + 8);
    for (char c : s) {
        if (c == '\\' || c == '"') r += '\\';
        r += c;
    }
    return r;
}

std::string EscapeLogField(std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    std::string r;
    r.reserve(s.size());
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7f && b != ';') {
            r += c;
            continue;
        }
        r += "\\x";
        r += kHex[b >> 4];
        r += kHex[b & 0xf];
    }
    return r;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Greedy with backtracking: on a mismatch the last '*' swallows one more character. Only
    // the last '*' is ever retried, which keeps the work within pattern length times name length.
    size_t p = 0, n = 0;
    size_t starAt = std::string_view::npos, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string ExpandTemplate(std::string_view tmpl, std::string_view letters,
                           const std::vector<std::string>& values, char escape) {
    std::string out;
    out.reserve(tmpl.size() + 32);
    for (size_t i = 0; i < tmpl.size(); ++i) {
        char c = tmpl[i];
        if (c != escape) {
            out += c;
            continue;
        }
        if (i + 1 >= tmpl.size()) break;
        char l = tmpl[++i];
        if (l == escape) {
            out += escape;
            continue;
        }
        size_t k = letters.find(l);
        if (k != std::string_view::npos && k < values.size()) out += values[k];
    }
    return out;
}

}  // namespace orvex::StringUtil
