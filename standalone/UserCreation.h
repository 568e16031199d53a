#pragma once
// Interactive creation of a user-file entry (-a).

#include <cstdio>
#include <string>

#include "standalone/StandaloneSite.h"

namespace orvex {

enum class Creation {
    Added,
    NotWritten,  // the file could not be opened; the warning was printed
    Mismatch,    // the two passwords differ
    Refused,     // an answer cannot be stored in the file, or a stop was requested
};

// Asks on `out` and reads the answers from `in`; `defaultHome` is what an empty home answer
// gives. On success `created` holds the line's fields.
Creation CreateUser(FILE* in, FILE* out, const std::string& file, const std::string& defaultHome,
                    UserRecord& created);

}  // namespace orvex
