#include "engine/Tokenizer.h"

namespace orvex {

Args Tokenizer::Split(std::string_view line, char sep, bool keepEmpty) const {
    line = line.substr(0, lineSize_ ? lineSize_ - 1 : 0);
    line = line.substr(0, line.find('\0'));
    Args out;
    if (line.empty()) return out;
    auto isSep = [sep](char c) { return c == sep || c == '\t'; };
    size_t i = 0;
    if (keepEmpty) {
        for (;;) {
            size_t j = i;
            while (j < line.size() && !isSep(line[j])) ++j;
            out.emplace_back(line.substr(i, j - i));
            if (j >= line.size()) break;
            i = j + 1;
        }
        return out;
    }
    while (i < line.size()) {
        while (i < line.size() && isSep(line[i])) ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && !isSep(line[j])) ++j;
        out.emplace_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string Join(const Args& args, char skip, size_t first) {
    std::string out;
    bool any = false;
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        char c = a.empty() ? '\0' : a[0];
        if (c == skip) continue;
        if (any) out += ' ';
        out += a;
        any = true;
    }
    return out;
}

}  // namespace orvex
