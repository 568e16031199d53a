#pragma once
// What more than one family of SITE commands shares: the access refusal, the issuer's record,
// typed numbers and user patterns.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/accounts/UserRecord.h"

namespace orvex {
class SiteSession;
}

namespace orvex::site {

inline constexpr const char* kNoAccess = "You do not have access to this command.";

// The record of the user running the command.
std::optional<UserRecord> IssuerRecord(SiteSession& s);

// A typed number (it begins with "0" or reads as a nonzero number) between `low` and `high`.
bool ReadNumberIn(std::string_view text, int64_t low, int64_t high, int64_t& value);

// A pattern holds "*" and selects every user whose name matches it.
bool IsPattern(std::string_view pattern);
// The stored names of the users that `pattern` selects (one name without "*": that user, any
// case), in the store's order.
std::vector<std::string> UsersMatching(SiteSession& s, std::string_view pattern);

}  // namespace orvex::site
