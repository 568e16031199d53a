#include "server/site/accounts/SiteAccounts.h"

#include "engine/StringUtil.h"
#include "server/session/SiteSession.h"

namespace orvex::site {

bool MayActOn(const UserRecord& issuer, std::string_view targetGroup) {
    if (!issuer.HasFlag(kFlagGadmin)) return true;
    // Without a group it would hold every user who has none.
    return !issuer.group.empty() && StringUtil::EqualNoCase(issuer.group, targetGroup);
}

Authority AuthorityOver(const std::optional<UserRecord>& issuer, const UserRecord& target) {
    const bool siteop = issuer && issuer->HasFlag(kFlagSiteop);
    if (target.HasFlag(kFlagSiteop) && !siteop) return Authority::SiteopOnly;
    if (issuer && !MayActOn(*issuer, target.group)) return Authority::OtherGroup;
    return Authority::Granted;
}

bool CheckAuthority(SiteSession& s, const Args& args, const UserRecord& target,
                    const char* groupCode) {
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    switch (AuthorityOver(issuer, target)) {
        case Authority::Granted:
            return true;
        case Authority::OtherGroup:
            s.Respond(args, NotInGroup(*issuer), groupCode);
            return false;
        case Authority::SiteopOnly:
            s.Respond(args, kNoAccess, "550");
            return false;
    }
    return false;
}

std::string NotInGroup(const UserRecord& issuer) {
    return StringUtil::Format("Invalid Access. User is not in group (%s).", issuer.group.c_str());
}

std::optional<std::string> EditLetters(std::string_view current, std::string_view edit, size_t max,
                                       bool flags) {
    if (edit.empty() || (edit[0] != '+' && edit[0] != '-')) return std::nullopt;
    std::string result(current);
    std::string letters(edit);
    if (flags) {
        StringUtil::ToUpper(result);
        StringUtil::ToUpper(letters);
    } else {
        StringUtil::ToLower(result);
        StringUtil::ToLower(letters);
    }
    bool adding = true;
    for (char c : letters) {
        if (c == '+' || c == '-') {
            adding = c == '+';
            continue;
        }
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) continue;
        const size_t at = result.find(c);
        if (adding && at == std::string::npos) result.push_back(c);
        if (!adding && at != std::string::npos) result.erase(at, 1);
    }
    StringUtil::Truncate(result, max);
    return result;
}

}  // namespace orvex::site
