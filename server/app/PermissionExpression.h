#pragma once
// Who may use a SITE command or FXP: a space-separated list of terms tried in order against one
// user's name, group and flag string; the first term that matches decides.
//   *        everybody            -name   this user        -!name  not this user
//   =group   members of group     =!group not members      !X      not users with flag X
//   X...     users with flag X (the first character of the term)
// Names and groups compare without regard to case; flags exactly. No match: not allowed.

#include <string_view>

namespace orvex {

bool MatchPermission(std::string_view expression, std::string_view user, std::string_view group,
                     std::string_view flags);

}  // namespace orvex
