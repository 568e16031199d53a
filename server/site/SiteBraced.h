#pragma once
// Directory names with spaces are typed in braces: "{my", "old", "dir}" is "my old dir".

#include <string>

#include "engine/Tokenizer.h"

namespace orvex {

struct BracedName {
    std::string name;  // with a trailing backslash
    size_t used = 0;   // arguments taken
    int error = 0;     // 0 fine, 1 no name, 2 no closing brace
};

// The name that starts at args[first].
BracedName ParseBraced(const Args& args, size_t first);

}  // namespace orvex
