#include "server/site/SiteBraced.h"

namespace orvex {

BracedName ParseBraced(const Args& args, size_t first) {
    BracedName out;
    if (first >= args.size()) {
        out.error = 1;
        return out;
    }
    if (args[first].empty() || args[first][0] != '{') {
        out.name = args[first] + "\\";
        out.used = 1;
        return out;
    }
    std::string text = args[first].substr(1);
    out.used = 1;
    for (size_t i = first + 1; text.find('}') == std::string::npos && i < args.size(); ++i) {
        if (!text.empty() && (args[i].empty() || args[i][0] != '}')) text += ' ';
        text += args[i];
        ++out.used;
    }
    const size_t close = text.find('}');
    if (close == std::string::npos) {
        out.error = 2;
        return out;
    }
    text.resize(close);
    if (text.empty()) {
        out.error = 1;
        return out;
    }
    out.name = text + "\\";
    return out;
}

}  // namespace orvex
