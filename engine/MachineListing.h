#pragma once
// Machine-readable listings (MLSD and MLST): the facts of one entry and the choice of facts a
// client makes with OPTS MLST.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/FileUtil.h"

namespace orvex {

class EntryFacts;

namespace MachineListing {

// One bit per fact, in the order FEAT lists them.
enum Fact : unsigned {
    kType = 1u << 0,
    kSize = 1u << 1,
    kModify = 1u << 2,
    kPerm = 1u << 3,
    kUnixMode = 1u << 4,
    kUnixOwner = 1u << 5,
    kUnixGroup = 1u << 6,
    kAllFacts = (1u << 7) - 1,
};

// "type*;size*;...;" for FEAT: every fact offered, a star after each one selected.
std::string FeatureText(unsigned selected);
// The facts an OPTS MLST argument names ("type;size;", any case; unknown names are left out),
// and in `echo` the names as the reply repeats them. No argument selects no fact.
unsigned ParseSelection(std::string_view text, std::string& echo);

// "YYYYMMDDHHMMSS" in UTC, as MDTM and the modify fact give it; empty when it cannot be shown.
// Broken down directly: a time of 0 is 1970, not "now".
std::string UtcStamp(int64_t time);
// The other way, for the times MFMT and MDTM set: exactly "YYYYMMDDHHMMSS" naming a real UTC
// date and time from 1970 on (a fraction of a second after a "." is allowed and dropped); false for
// anything else, so that a file name is never read as a time.
bool ParseUtcStamp(std::string_view text, int64_t& time);

// The "perm" letters of an entry; `allows` tells whether the user holds any of some command
// letters on the entry.
std::string PermLetters(bool directory, const std::function<bool(std::string_view)>& allows);

// "fact=value;...; name" for an entry of `path` (a directory ends in a backslash or has the
// directory bit in `info`), with the owner, group and mode the site shows and the user's
// permissions, as `facts` tells them.
std::string EntryLine(EntryFacts& facts, const std::string& path, const FileInfo& info,
                      unsigned selected, std::string_view name);

}  // namespace MachineListing
}  // namespace orvex
