#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class ReplyBuilder;

// Sends a text file as reply lines with one code. Mode 0 closes with `closing` (or
// "Command Successful."); pieces beginning with "//" are skipped.
struct TextFileReply {
    static bool Send(ReplyBuilder& out, std::string_view path, std::string_view code,
                     std::optional<std::string_view> closing, int mode);
};

}  // namespace orvex
