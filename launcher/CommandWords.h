// Splits one command-line text into words the way a started program would receive them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex::launcher {

// Spaces and tabs separate words; double quotes group words and are removed ("" is an empty
// word). Backslashes are literal unless they precede a quote: 2n of them then give n and the
// quote groups, 2n+1 give n and a literal quote.
std::vector<std::string> SplitCommandWords(std::string_view text);

}  // namespace orvex::launcher
