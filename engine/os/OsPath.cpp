#include "engine/os/OsPath.h"

#include <cctype>

namespace orvex::FileUtil {

std::string OsPath(std::string_view internal) {
    std::string p(internal);
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0])))
        p.erase(0, 2);
    for (char& c : p)
        if (c == '\\') c = '/';
    if (p.empty() && !internal.empty()) p.push_back('/');
    return p;
}

}  // namespace orvex::FileUtil
