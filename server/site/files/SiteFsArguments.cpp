#include "server/site/files/SiteFsArguments.h"

#include <cstdlib>
#include <limits>

#include "engine/StringUtil.h"

namespace orvex::site {

std::optional<std::string> ModeFromOctal(std::string_view mask) {
    if (mask.size() != 3) return std::nullopt;
    std::string mode;
    for (char digit : mask) {
        if (digit < '0' || digit > '7') return std::nullopt;
        const int bits = digit - '0';
        mode += bits & 4 ? 'r' : '-';
        mode += bits & 2 ? 'w' : '-';
        mode += bits & 1 ? 'x' : '-';
    }
    return mode;
}

OwnerArgument SplitOwnerArgument(std::string_view text) {
    OwnerArgument out;
    const size_t colon = text.find(':');
    out.user = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) out.group = std::string(text.substr(colon + 1));
    return out;
}

namespace {

bool IsDate(std::string_view value) {
    return value.size() == 6 && StringUtil::IsInteger(value);
}

}  // namespace

DupeQuery ParseDupeQuery(const Args& args) {
    DupeQuery q;
    size_t masksFrom = 2;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& word = args[i];
        const bool max = StringUtil::EqualNoCase(word, "-max");
        const bool from = StringUtil::EqualNoCase(word, "-from");
        const bool to = StringUtil::EqualNoCase(word, "-to");
        if (!max && !from && !to) continue;
        const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
        bool valid = false;
        if (max) {
            valid = value && !value->empty() && StringUtil::IsInteger(*value) && (*value)[0] != '-';
            if (valid) {
                const unsigned long long n = std::strtoull(value->c_str(), nullptr, 10);
                q.maximum = static_cast<size_t>(
                    std::min<unsigned long long>(n, std::numeric_limits<size_t>::max()));
            }
        } else {
            valid = value && IsDate(*value);
            if (valid) (from ? q.from : q.to) = *value;
        }
        if (!valid) {
            q.errorCode = max ? "501" : from ? "502" : "503";
            continue;
        }
        masksFrom = i + 2;
        ++i;
    }
    for (size_t i = masksFrom; i < args.size(); ++i) q.masks.push_back(args[i]);
    return q;
}

SearchOptions ParseSearchOptions(const Args& args) {
    SearchOptions o;
    size_t i = 2;
    for (; i < args.size() && !args[i].empty() && args[i][0] == '-'; ++i) {
        const std::string_view option = std::string_view(args[i]).substr(1);
        if (option == "f" || option == "F") {
            o.files = true;
        } else if (option == "l" || option == "L") {
            o.links = true;
        } else if (!option.empty() && StringUtil::IsInteger(option) && option[0] != '-') {
            const unsigned long n = std::strtoul(std::string(option).c_str(), nullptr, 10);
            o.maximum = static_cast<uint32_t>(
                std::min<unsigned long>(n, std::numeric_limits<uint32_t>::max()));
        }
    }
    o.next = i;
    return o;
}

}  // namespace orvex::site
