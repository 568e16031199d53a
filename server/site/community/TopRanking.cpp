#include "server/site/community/TopRanking.h"

#include <cstdlib>

#include "engine/StringUtil.h"

namespace orvex {

namespace {

// Digits with an optional sign.
bool IsCount(const std::string& text) {
    const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.size() == digits) return false;
    return text.find_first_not_of("0123456789", digits) == std::string::npos;
}

int KindOf(const std::string& word) {
    if (StringUtil::EqualNoCase(word, "local")) return 1;
    if (StringUtil::EqualNoCase(word, "remote")) return 2;
    return 0;
}

}  // namespace

TopArgs ParseTopArgs(const Args& args) {
    TopArgs out;
    if (args.size() < 3) return out;
    if (!IsCount(args[2])) {
        out.kind = KindOf(args[2]);
        return out;
    }
    const long long count = std::strtoll(args[2].c_str(), nullptr, 10);
    out.count = count > kTopMaxCount ? kTopMaxCount : static_cast<int>(count < 0 ? 0 : count);
    if (args.size() > 3) out.kind = KindOf(args[3]);
    return out;
}

std::vector<size_t> RankTop(const std::vector<int32_t>& keys, int count) {
    std::vector<size_t> kept;
    if (count <= 0) return kept;
    const size_t room = static_cast<size_t>(count);
    auto smallest = [&] {
        size_t at = 0;
        for (size_t i = 1; i < kept.size(); ++i)
            if (keys[kept[i]] < keys[kept[at]]) at = i;
        return at;
    };
    for (size_t candidate = 0; candidate < keys.size(); ++candidate) {
        if (kept.size() < room) {
            kept.push_back(candidate);
            continue;
        }
        const size_t at = smallest();
        if (keys[kept[at]] >= keys[candidate]) continue;
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(at));
        kept.push_back(candidate);
    }
    std::vector<size_t> ranked;
    while (!kept.empty()) {
        size_t at = 0;
        for (size_t i = 1; i < kept.size(); ++i)
            if (keys[kept[i]] > keys[kept[at]]) at = i;
        ranked.push_back(kept[at]);
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return ranked;
}

}  // namespace orvex
