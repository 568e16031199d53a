#include "server/accounts/AccountText.h"

#include <ctime>
#include <limits>

#include "engine/Clock.h"
#include "engine/FileUtil.h"

namespace orvex::AccountText {
namespace {

bool IsSep(char c) {
    return c == '/' || c == '\\';
}

std::string FormPath(std::string_view in, bool relative) {
    std::string v(in);
    if (!v.empty() && v[0] == '.') v.erase(0, 1);
    const bool drive = v.size() >= 2 && v[1] == ':';
    const bool rooted = !v.empty() && IsSep(v[0]);
    if (relative) {
        if (rooted) v.erase(0, 1);
        if (v.empty()) return v;
    } else if (!drive && !rooted) {
        v = std::string(1, '\\') + v;
    }
    if (!IsSep(v.back())) v += '\\';
    FileUtil::ToBackslashes(v);
    return v;
}

}  // namespace

void ForEachLine(std::string_view text, const std::function<void(std::string_view, int)>& line) {
    int number = 0;
    while (!text.empty()) {
        size_t len = text.find('\n');
        len = len == std::string_view::npos ? text.size() : len + 1;
        if (len > kLineBuffer - 1) len = kLineBuffer - 1;
        std::string_view piece = text.substr(0, len);
        text.remove_prefix(len);
        const size_t cut = piece.find_first_of(std::string_view("\r\n#\0", 4));
        if (cut != std::string_view::npos) piece = piece.substr(0, cut);
        line(piece, ++number);
    }
}

int64_t ReadNumber(std::string_view token) {
    constexpr int64_t kLow = std::numeric_limits<int32_t>::min();
    constexpr int64_t kHigh = std::numeric_limits<uint32_t>::max();
    size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '-' || token[i] == '+')) negative = token[i++] == '-';
    int64_t v = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        v = v * 10 + (token[i] - '0');
        if (v > kHigh) v = kHigh + 1;  // saturates; clamped below
    }
    if (negative) v = -v;
    return v < kLow ? kLow : v > kHigh ? kHigh : v;
}

std::string AbsolutePath(std::string_view path) {
    return FormPath(path, false);
}
std::string RelativePath(std::string_view path) {
    return FormPath(path, true);
}

bool IsTableField(std::string_view value) {
    return value.find_first_of(std::string_view(";#\t\r\n\0", 6)) == std::string_view::npos;
}

std::string OneLine(std::string_view value) {
    std::string s(value);
    for (char& c : s)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return s;
}

std::string Today() {
    const time_t now = static_cast<time_t>(Clock::NowSeconds());
    struct tm tm {};
    localtime_r(&now, &tm);
    char buf[16];
    return strftime(buf, sizeof buf, "%m-%d-%y", &tm) ? std::string(buf) : std::string();
}

}  // namespace orvex::AccountText
