#pragma once
// SITE AUTHMODE and SITE SHUTDOWN after the access check: show or change one setting of the
// loaded configuration (the file is not written) and give the reply to send.

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class SiteConfig;

struct SiteReply {
    int code = 0;
    std::string text;
};

// A number typed by a user: valid when it begins with "0" or reads as a nonzero number (leading
// digits after an optional sign).
bool ReadTypedNumber(std::string_view text, long& value);

// `value` is the first argument, absent for the showing form.
SiteReply SiteAuthMode(SiteConfig& config, std::optional<std::string_view> value);
SiteReply SiteShutdown(SiteConfig& config, std::optional<std::string_view> value);

}  // namespace orvex
