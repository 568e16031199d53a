#pragma once
// The argument forms of the SITE commands on the site tree that take more than a path: modes,
// owners, and the options of DUPE and SEARCH. Pure functions of the typed words.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Tokenizer.h"

namespace orvex::site {

// "755" as the mode string "rwxr-xr-x"; none unless exactly three octal digits.
std::optional<std::string> ModeFromOctal(std::string_view mask);

// "[user][:group]": the parts given, empty when absent.
struct OwnerArgument {
    std::string user;
    std::string group;
};
OwnerArgument SplitOwnerArgument(std::string_view text);

// SITE DUPE [-max n] [-from mmddyy] [-to mmddyy] mask ...: options come first, and the masks
// are what follows the value of the last valid option.
struct DupeQuery {
    size_t maximum = 20;  // 0: all
    std::string from, to;
    std::vector<std::string> masks;
    // The last invalid option: "501" -max, "502" -from, "503" -to; empty when all were valid.
    std::string errorCode;
};
DupeQuery ParseDupeQuery(const Args& args);

// SITE SEARCH [-f] [-l] [-<max>] ...: the leading options and the index of the first other
// argument.
struct SearchOptions {
    bool files = false;  // list matching files too
    bool links = false;  // search the tree as the client sees it, through directory links
    uint32_t maximum = 20;
    size_t next = 2;
};
SearchOptions ParseSearchOptions(const Args& args);

}  // namespace orvex::site
