#pragma once
// Where the SITE filesystem commands name their path, and the line that carries such a command
// to another server with the remote path in place of the local one.

#include <string>
#include <string_view>

#include "engine/Tokenizer.h"

namespace orvex {

struct AliasSiteLine {
    bool local = false;  // too few arguments: the local command answers
    // A refusal decided from the arguments alone (code, text).
    std::string errorCode, errorText;
    std::string typed;  // the path as typed, or the command's default
    bool directory = false;
    // CHMOD and CHOWN: the alias directory itself only when written with its trailing separator.
    bool exactAliasDirectory = false;
    bool recursive = false;  // "-R"
    // The forwarded line is `before` + remote path + `after`; with `bareAtRoot` a remote path
    // of "/" leaves the path out.
    std::string before, after;
    bool bareAtRoot = false;

    std::string Line(const std::string& remote) const;
};

// For the SITE sub-command `name` (upper case) with args[0] "SITE" and args[1] the name.
AliasSiteLine PlanAliasSiteLine(std::string_view name, const Args& args);

}  // namespace orvex
