#pragma once
// The single place where internal paths (backslashes, directories ending in one) become Linux
// paths.

#include <string>
#include <string_view>

namespace orvex::FileUtil {

// Internal path -> OS path: backslashes become slashes, an "X:" drive prefix is dropped, a lone
// backslash is "/". A path already in OS form passes unchanged.
std::string OsPath(std::string_view internal);

}  // namespace orvex::FileUtil
