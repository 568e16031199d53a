#pragma once
// What the account and group SITE commands share: the group-administrator rule, the authority
// over flag-1 users and flag and permission edits.

#include <optional>
#include <string>
#include <string_view>

#include "engine/Tokenizer.h"
#include "server/accounts/UserRecord.h"
#include "server/site/SiteCommandSupport.h"

namespace orvex {
class SiteSession;
}

namespace orvex::site {

// A space followed by 70 dashes.
inline constexpr const char* kDashLine =
    " ----------------------------------------------------------------------";

// A group administrator acts only on users of the own group (on nobody while it has none);
// everybody else on anybody.
bool MayActOn(const UserRecord& issuer, std::string_view targetGroup);
// "Invalid Access. User is not in group (%s)." with the issuer's group.
std::string NotInGroup(const UserRecord& issuer);

// Whether the issuer may act on an account: nobody without flag 1 acts on a flag-1 user, so that
// no chain of commands leads a lesser account to the operator's password, addresses or flags;
// and the group-administrator rule. An unknown issuer counts as one without flags.
enum class Authority { Granted, OtherGroup, SiteopOnly };
Authority AuthorityOver(const std::optional<UserRecord>& issuer, const UserRecord& target);
// AuthorityOver, answering a refusal: the group rule with its text and `groupCode`, a flag-1
// target with the command's access refusal. False after a refusal.
bool CheckAuthority(SiteSession& s, const Args& args, const UserRecord& target,
                    const char* groupCode);

// Applies a "+/-" edit to a flag or permission string: it must begin with "+" or "-"; then "+"
// adds and "-" removes the letters and digits that follow. Upper-cased for flags, lower-cased
// for permissions; the result keeps at most `max` characters. None when the sign is missing.
std::optional<std::string> EditLetters(std::string_view current, std::string_view edit, size_t max,
                                       bool flags);

}  // namespace orvex::site
