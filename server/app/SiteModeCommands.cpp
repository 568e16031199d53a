#include "server/app/SiteModeCommands.h"

#include <climits>
#include <string>

#include "engine/StringUtil.h"
#include "server/app/SiteConfig.h"

namespace orvex {

bool ReadTypedNumber(std::string_view text, long& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = v > (LONG_MAX - 9) / 10 ? LONG_MAX : v * 10 + (text[i] - '0');
    value = negative ? -v : v;
    return (!text.empty() && text[0] == '0') || value != 0;
}

namespace {

struct ModeTexts {
    const char* invalid;  // with the typed value
    const char* done;     // with the number and its meaning
    const char* zero;
    const char* nonzero;
};

template <class Get, class Set>
SiteReply Mode(const ModeTexts& texts, std::optional<std::string_view> value, Get get, Set set) {
    if (value) {
        long v = 0;
        if (!ReadTypedNumber(*value, v) || (v != 0 && v != 1))
            return {501, StringUtil::Format(texts.invalid, std::string(*value).c_str())};
        set(static_cast<uint32_t>(v));
    }
    uint32_t now = get();
    return {200, StringUtil::Format(texts.done, now, now ? texts.nonzero : texts.zero)};
}

}  // namespace

SiteReply SiteAuthMode(SiteConfig& config, std::optional<std::string_view> value) {
    static constexpr ModeTexts kTexts{"%s: Invalid authentication mode (must be 0 or 1)",
                                      "Authentication mode set to %u %s.", "(clear and SSL)",
                                      "(SSL only)"};
    return Mode(
        kTexts, value, [&] { return config.GetAuthMode(); },
        [&](uint32_t v) { config.SetAuthMode(v); });
}

SiteReply SiteShutdown(SiteConfig& config, std::optional<std::string_view> value) {
    static constexpr ModeTexts kTexts{"%s: Invalid shutdown level (must be 0 or 1)",
                                      "Shutdown level set to %u %s.", "(open)", "(siteops only)"};
    return Mode(
        kTexts, value, [&] { return config.GetShutdown(); },
        [&](uint32_t v) { config.SetShutdown(v); });
}

}  // namespace orvex
