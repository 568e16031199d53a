#include "server/site/SiteCommandSupport.h"

#include "engine/StringUtil.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteModeCommands.h"
#include "server/session/SiteSession.h"

namespace orvex::site {

std::optional<UserRecord> IssuerRecord(SiteSession& s) {
    return s.Server().Users().FindUser(s.UserName());
}

bool ReadNumberIn(std::string_view text, int64_t low, int64_t high, int64_t& value) {
    long typed = 0;
    if (!ReadTypedNumber(text, typed)) return false;
    value = typed;
    return value >= low && value <= high;
}

bool IsPattern(std::string_view pattern) {
    return pattern.find('*') != std::string_view::npos;
}

std::vector<std::string> UsersMatching(SiteSession& s, std::string_view pattern) {
    std::vector<std::string> names;
    if (!IsPattern(pattern)) {
        std::string stored;
        if (s.Server().Users().FindUser(pattern, &stored)) names.push_back(stored);
        return names;
    }
    // Names compare without regard to case everywhere, patterns too.
    const std::string lowered = StringUtil::Lowered(pattern);
    for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers)) {
        const std::string name = n.name.value_or("");
        if (StringUtil::WildcardMatch(lowered, StringUtil::Lowered(name))) names.push_back(name);
    }
    return names;
}

}  // namespace orvex::site
