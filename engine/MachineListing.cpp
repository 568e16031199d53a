// Facts of machine-readable listings.

#include "engine/MachineListing.h"

#include <ctime>

#include "engine/FtpSite.h"
#include "engine/StringUtil.h"

namespace orvex::MachineListing {

namespace {

constexpr std::string_view kNames[] = {"type",      "size",       "modify",    "perm",
                                       "unix.mode", "unix.owner", "unix.group"};

}  // namespace

std::string FeatureText(unsigned selected) {
    std::string out;
    for (size_t i = 0; i < std::size(kNames); ++i) {
        out += kNames[i];
        if (selected & (1u << i)) out += '*';
        out += ';';
    }
    return out;
}

unsigned ParseSelection(std::string_view text, std::string& echo) {
    unsigned selected = 0;
    echo.clear();
    while (!text.empty()) {
        const size_t end = text.find(';');
        const std::string_view word = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (!StringUtil::EqualNoCase(word, kNames[i]) || (selected & (1u << i))) continue;
            selected |= 1u << i;
            echo.append(kNames[i]).push_back(';');
        }
    }
    return selected;
}

std::string UtcStamp(int64_t time) {
    struct tm parts {};
    char stamp[32] = "";
    if (!FtpSite::BreakDownTime(time, parts, true) ||
        strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &parts) == 0)
        return {};
    return stamp;
}

namespace {

constexpr size_t kStampDigits = 14;
constexpr unsigned kFirstYear = 1970;  // times before it are no file's

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool ParseUtcStamp(std::string_view text, int64_t& time) {
    const size_t dot = text.find('.');
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    const std::string_view digits = text.substr(0, dot);
    if (digits.size() != kStampDigits || (dot != std::string_view::npos && fraction.empty()))
        return false;
    for (std::string_view part : {digits, fraction})
        for (char c : part)
            if (c < '0' || c > '9') return false;
    auto field = [&](size_t at, size_t width) {
        unsigned v = 0;
        for (size_t i = at; i < at + width; ++i)
            v = v * 10 + static_cast<unsigned>(digits[i] - '0');
        return v;
    };
    const unsigned year = field(0, 4), month = field(4, 2), day = field(6, 2);
    const unsigned hour = field(8, 2), minute = field(10, 2), second = field(12, 2);
    if (year < kFirstYear || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59)
        return false;
    time = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string PermLetters(bool directory, const std::function<bool(std::string_view)>& allows) {
    // The letters each command asks for (CWD, LIST, STOR, MKD, RMD, DELE, RETR, RNFR).
    struct Grant {
        char letter;
        std::string_view commandLetters;
    };
    static constexpr Grant kDirectory[] = {{'e', "cx"}, {'l', "lvx"}, {'c', "uw"}, {'m', "wm"},
                                           {'d', "wn"}, {'f', "wa"},  {'p', "wo"}};
    static constexpr Grant kFile[] = {
        {'r', "dr"}, {'a', "uw"}, {'w', "uw"}, {'d', "wo"}, {'f', "wa"}};
    std::string out;
    auto add = [&](const Grant* from, const Grant* to) {
        for (; from != to; ++from)
            if (allows(from->commandLetters)) out += from->letter;
    };
    if (directory)
        add(std::begin(kDirectory), std::end(kDirectory));
    else
        add(std::begin(kFile), std::end(kFile));
    return out;
}

std::string EntryLine(EntryFacts& facts, const std::string& path, const FileInfo& info,
                      unsigned selected, std::string_view name) {
    const bool directory = (info.mode & kModeDirectory) != 0;
    std::string out;
    if (selected & kType) out += directory ? "type=dir;" : "type=file;";
    if ((selected & kSize) && !directory)
        out += StringUtil::Format("size=%llu;", static_cast<unsigned long long>(info.size));
    if (selected & kModify) {
        const std::string stamp = UtcStamp(info.modifyTime);
        if (!stamp.empty()) out += "modify=" + stamp + ";";
    }
    if (!(selected & (kPerm | kUnixMode | kUnixOwner | kUnixGroup)))
        return out + ' ' + std::string(name);
    // The site judges directories by their path with the separator, files without it.
    std::string judged = path;
    if (directory)
        FileUtil::AddTrailingSep(judged);
    else
        FileUtil::StripTrailingSep(judged);
    facts.Describe(judged, info);
    if (selected & kPerm)
        out += "perm=" +
               PermLetters(directory,
                           [&](std::string_view letters) { return facts.Allows(letters); }) +
               ";";
    if (selected & (kUnixMode | kUnixOwner | kUnixGroup)) {
        const EntryOwnership owner = facts.Ownership();
        if (selected & kUnixMode) out += StringUtil::Format("unix.mode=0%o;", owner.mode & 0777);
        if (selected & kUnixOwner) out += "unix.owner=" + owner.owner + ";";
        if (selected & kUnixGroup) out += "unix.group=" + owner.group + ";";
    }
    out += ' ';
    out += name;
    return out;
}

}  // namespace orvex::MachineListing
