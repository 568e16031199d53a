// Wildcard patterns against names: the matcher agrees with a plain dynamic-programming matcher.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/StringUtil.h"

namespace {

bool Reference(const std::string& p, const std::string& n) {
    // can[j]: the pattern read so far matches the first j characters of the name.
    std::vector<char> can(n.size() + 1, 0), next(n.size() + 1, 0);
    can[0] = 1;
    for (char pc : p) {
        if (pc == '*') {
            for (size_t j = 1; j <= n.size(); ++j) can[j] = can[j] || can[j - 1];
            continue;
        }
        next.assign(n.size() + 1, 0);
        for (size_t j = 1; j <= n.size(); ++j) next[j] = can[j - 1] && n[j - 1] == pc;
        can.swap(next);
    }
    return can[n.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The pattern, a NUL, then the name.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t cut = text.find('\0');
    const std::string pattern = text.substr(0, cut);
    const std::string name = cut == std::string::npos ? std::string() : text.substr(cut + 1);
    if (pattern.size() > 256 || name.size() > 1024) return 0;
    if (orvex::StringUtil::WildcardMatch(pattern, name) != Reference(pattern, name)) abort();
    return 0;
}
