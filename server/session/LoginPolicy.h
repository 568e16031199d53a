#pragma once
// Who may log in: the checks a local user passes after the right password, in their fixed order,
// and the texts of their refusals. The counts come through LoginFacts one question at a time, so
// that a check asks only when it is reached.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

struct UserRecord;

enum LoginVerdict : int {
    kLoginAllowed = 1,
    kLoginDeleted = -1,
    kLoginShutdown = -2,
    kLoginSiteFull = -3,
    kLoginMaxLogins = -4,
    kLoginMaxPerIp = -5,
    kLoginTimeFrame = -6,
    kLoginGroupFull = -7,
};

// The site's side of a login decision. The connection being checked is not registered yet.
class LoginFacts {
  public:
    virtual ~LoginFacts() = default;
    virtual uint32_t ShutdownLevel() = 0;
    virtual uint32_t MaxUsers() = 0;
    virtual uint32_t MaxExemptUsers() = 0;
    virtual size_t OnlineCount() = 0;
    virtual int LoginsOf(const std::string& user) = 0;
    virtual int LoginsFrom(const std::string& user, const std::string& ip) = 0;
    virtual int LocalHour() = 0;
    // The group's logins value; none when the group cannot be read.
    virtual std::optional<uint32_t> GroupLoginLimit(const std::string& group) = 0;
    // Logged-in connections whose user belongs to `group` (any case).
    virtual int GroupOnline(const std::string& group) = 0;
};

// The first failing check's code, or kLoginAllowed.
int DecideLogin(const UserRecord& user, const std::string& name, const std::string& ip,
                LoginFacts& facts);

// The 530 text for a refusal code. The group is read again for kLoginGroupFull.
std::string LoginRefusalText(int code, const UserRecord& user, const std::string& name,
                             LoginFacts& facts, int utcOffsetMinutes);

// "You can only log in between ..." with the hours also shown in GMT.
std::string TimeFrameRefusal(uint32_t start, uint32_t end, int utcOffsetMinutes);

// Whether `hour` lies outside the frame; 0 0 is any time, a start after the end admits nobody.
bool OutsideTimeFrame(uint32_t start, uint32_t end, int hour);

// Whether `ip` matches one of the user's address masks ("*" wildcards, case-sensitive).
bool AddressAllowed(const UserRecord& user, std::string_view ip);

// Group id text that lets any password through.
bool AcceptsAnyPassword(std::string_view gid);

}  // namespace orvex
