#include "server/session/LoginPolicy.h"

#include <cstdlib>
#include <utility>

#include "engine/StringUtil.h"
#include "server/accounts/UserRecord.h"

namespace orvex {

namespace {

constexpr long kAnyPasswordGroup = 99;

bool Exempt(const UserRecord& user) {
    return user.HasFlag(kFlagSiteop) || user.HasFlag(kFlagExempt);
}

// A limit of n admits n connections: the one being checked is not counted yet. Negative limits
// read as the unsigned numbers the refusal shows, which no count reaches.
bool Reached(int count, int32_t limit) {
    const uint32_t max = static_cast<uint32_t>(limit);
    return max != 0 && count >= 0 && static_cast<uint32_t>(count) >= max;
}

}  // namespace

bool OutsideTimeFrame(uint32_t start, uint32_t end, int hour) {
    if (start == 0 && end == 0) return false;
    return hour < 0 || static_cast<uint32_t>(hour) < start || static_cast<uint32_t>(hour) >= end;
}

bool AddressAllowed(const UserRecord& user, std::string_view ip) {
    for (const std::string& mask : user.ipMasks) {
        if (!mask.empty() && StringUtil::WildcardMatch(mask, ip)) return true;
    }
    return false;
}

bool AcceptsAnyPassword(std::string_view gid) {
    const std::string text(gid);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && value == kAnyPasswordGroup;
}

int DecideLogin(const UserRecord& user, const std::string& name, const std::string& ip,
                LoginFacts& facts) {
    if (user.HasFlag(kFlagDeleted)) return kLoginDeleted;

    const uint32_t shutdown = facts.ShutdownLevel();
    if (shutdown == 2 || (shutdown == 1 && !user.HasFlag(kFlagSiteop))) return kLoginShutdown;

    uint64_t places = facts.MaxUsers();
    if (Exempt(user)) places += facts.MaxExemptUsers();
    if (facts.OnlineCount() >= places) return kLoginSiteFull;

    if (Reached(facts.LoginsOf(name), user.maxLogins)) return kLoginMaxLogins;
    if (Reached(facts.LoginsFrom(name, ip), static_cast<int32_t>(user.maxLoginsPerIp))) {
        return kLoginMaxPerIp;
    }

    if (OutsideTimeFrame(user.timeFrameStart, user.timeFrameEnd, facts.LocalHour())) {
        return kLoginTimeFrame;
    }

    if (Exempt(user)) return kLoginAllowed;
    if (const std::optional<uint32_t> limit = facts.GroupLoginLimit(user.group)) {
        if (*limit != 0) {
            const int online = facts.GroupOnline(user.group);
            if (online >= 0 && static_cast<uint32_t>(online) >= *limit) return kLoginGroupFull;
        }
    }
    return kLoginAllowed;
}

std::string TimeFrameRefusal(uint32_t start, uint32_t end, int utcOffsetMinutes) {
    // Whole minutes of the day, so that a half-hour offset borrows from the hour.
    auto gmt = [utcOffsetMinutes](uint32_t hour) {
        constexpr int kDay = 24 * 60;
        const int local = static_cast<int>(hour % 24) * 60;
        const int minutes = ((local - utcOffsetMinutes) % kDay + kDay) % kDay;
        return std::pair<unsigned, unsigned>(minutes / 60, minutes % 60);
    };
    const auto [startHour, startMinute] = gmt(start);
    const auto [endHour, endMinute] = gmt(end);
    return StringUtil::Format(
        "You can only log in between %02u:00 and %02u:00 (%02u:%02u - %02u:%02u GMT).",
        static_cast<unsigned>(start), static_cast<unsigned>(end), startHour, startMinute, endHour,
        endMinute);
}

std::string LoginRefusalText(int code, const UserRecord& user, const std::string& name,
                             LoginFacts& facts, int utcOffsetMinutes) {
    switch (code) {
        case kLoginDeleted:
            return "You have been deleted.";
        case kLoginShutdown:
            return "The server has been shut down, try again later.";
        case kLoginSiteFull:
            return "The site is full, try again later.";
        case kLoginMaxLogins:
            return StringUtil::Format(
                "Sorry, your account is restricted to %u simultaneous logins.",
                static_cast<unsigned>(user.maxLogins));
        case kLoginMaxPerIp:
            return StringUtil::Format(
                "Sorry, your max number of connections from this IP (%u) has been reached.",
                static_cast<unsigned>(user.maxLoginsPerIp));
        case kLoginTimeFrame:
            return TimeFrameRefusal(user.timeFrameStart, user.timeFrameEnd, utcOffsetMinutes);
        case kLoginGroupFull:
            if (const std::optional<uint32_t> limit = facts.GroupLoginLimit(user.group)) {
                return StringUtil::Format(
                    "Sorry, your group is restricted to %u simultaneous logins.",
                    static_cast<unsigned>(*limit));
            }
            return "Sorry, your group has too many simultaneous logins.";
        default:
            return StringUtil::Format("User %s cannot login.", name.c_str());
    }
}

}  // namespace orvex
