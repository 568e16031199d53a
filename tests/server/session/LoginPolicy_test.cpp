#include "server/session/LoginPolicy.h"

#include <gtest/gtest.h>

#include <map>

#include "server/accounts/UserRecord.h"

namespace orvex {
namespace {

// A site with every limit open; each test closes the one it is about.
class FakeFacts : public LoginFacts {
  public:
    uint32_t shutdown = 0;
    uint32_t maxUsers = 10, maxExempt = 0;
    size_t online = 0;
    int logins = 0, loginsFromIp = 0;
    int hour = 12;
    std::map<std::string, uint32_t> groupLimits;
    int groupOnline = 0;
    int groupQuestions = 0;
    std::string askedIp;

    uint32_t ShutdownLevel() override { return shutdown; }
    uint32_t MaxUsers() override { return maxUsers; }
    uint32_t MaxExemptUsers() override { return maxExempt; }
    size_t OnlineCount() override { return online; }
    int LoginsOf(const std::string&) override { return logins; }
    int LoginsFrom(const std::string&, const std::string& ip) override {
        askedIp = ip;
        return loginsFromIp;
    }
    int LocalHour() override { return hour; }
    std::optional<uint32_t> GroupLoginLimit(const std::string& group) override {
        ++groupQuestions;
        auto it = groupLimits.find(group);
        if (it == groupLimits.end()) return std::nullopt;
        return it->second;
    }
    int GroupOnline(const std::string&) override { return groupOnline; }
};

UserRecord User(std::string flags = "") {
    UserRecord u;
    u.flags = std::move(flags);
    u.group = "staff";
    return u;
}

int Decide(const UserRecord& u, FakeFacts& f) {
    return DecideLogin(u, "bob", "10.0.0.7", f);
}

TEST(LoginPolicy, FirstFailingCheckDecidesInTableOrder) {
    FakeFacts f;
    f.shutdown = 2;
    f.online = 100;
    f.logins = 9;
    f.hour = 3;
    UserRecord u = User("6");
    u.maxLogins = 1;
    u.timeFrameStart = 9;
    u.timeFrameEnd = 17;
    EXPECT_EQ(Decide(u, f), kLoginDeleted);
    u.flags.clear();
    EXPECT_EQ(Decide(u, f), kLoginShutdown);
    f.shutdown = 0;
    EXPECT_EQ(Decide(u, f), kLoginSiteFull);
    f.online = 0;
    EXPECT_EQ(Decide(u, f), kLoginMaxLogins);
    f.logins = 0;
    EXPECT_EQ(Decide(u, f), kLoginTimeFrame);
    f.hour = 9;
    EXPECT_EQ(Decide(u, f), kLoginAllowed);
}

TEST(LoginPolicy, ShutdownLevels) {
    FakeFacts f;
    f.shutdown = 1;
    EXPECT_EQ(Decide(User("1"), f), kLoginAllowed);
    EXPECT_EQ(Decide(User("4"), f), kLoginShutdown);  // exempt is no siteop
    EXPECT_EQ(Decide(User(""), f), kLoginShutdown);
    f.shutdown = 2;
    EXPECT_EQ(Decide(User("1"), f), kLoginShutdown);
}

TEST(LoginPolicy, SiteFullCountsExtraPlacesOnlyForSiteopsAndExempt) {
    FakeFacts f;
    f.maxUsers = 2;
    f.maxExempt = 1;
    f.online = 1;
    EXPECT_EQ(Decide(User(), f), kLoginAllowed);
    f.online = 2;
    EXPECT_EQ(Decide(User(), f), kLoginSiteFull);
    EXPECT_EQ(Decide(User("1"), f), kLoginAllowed);
    EXPECT_EQ(Decide(User("4"), f), kLoginAllowed);
    f.online = 3;
    EXPECT_EQ(Decide(User("14"), f), kLoginSiteFull);
}

TEST(LoginPolicy, NoUserPlacesAdmitsNobody) {
    FakeFacts f;
    f.maxUsers = 0;
    f.maxExempt = 0;
    EXPECT_EQ(Decide(User("1"), f), kLoginSiteFull);
}

TEST(LoginPolicy, LimitOfNAdmitsN) {
    FakeFacts f;
    UserRecord u = User();
    u.maxLogins = 2;
    f.logins = 1;
    EXPECT_EQ(Decide(u, f), kLoginAllowed);
    f.logins = 2;
    EXPECT_EQ(Decide(u, f), kLoginMaxLogins);
    u.maxLogins = 0;  // unlimited
    f.logins = 500;
    EXPECT_EQ(Decide(u, f), kLoginAllowed);
    u.maxLogins = -1;  // no count reaches it
    EXPECT_EQ(Decide(u, f), kLoginAllowed);

    u.maxLoginsPerIp = 1;
    f.loginsFromIp = 0;
    EXPECT_EQ(Decide(u, f), kLoginAllowed);
    EXPECT_EQ(f.askedIp, "10.0.0.7");
    f.loginsFromIp = 1;
    EXPECT_EQ(Decide(u, f), kLoginMaxPerIp);
}

TEST(LoginPolicy, TimeFrames) {
    EXPECT_FALSE(OutsideTimeFrame(0, 0, 3));
    EXPECT_FALSE(OutsideTimeFrame(9, 17, 9));
    EXPECT_FALSE(OutsideTimeFrame(9, 17, 16));  // 16:59 is still hour 16
    EXPECT_TRUE(OutsideTimeFrame(9, 17, 17));
    EXPECT_TRUE(OutsideTimeFrame(9, 17, 8));
    for (int h = 0; h < 24; ++h) EXPECT_TRUE(OutsideTimeFrame(22, 6, h)) << h;
    EXPECT_TRUE(OutsideTimeFrame(9, 17, -1));  // the clock could not be read
    EXPECT_FALSE(OutsideTimeFrame(0, 24, 23));
}

TEST(LoginPolicy, GroupLimitSkippedForSiteopsExemptAndUnlimitedGroups) {
    FakeFacts f;
    f.groupLimits["staff"] = 2;
    f.groupOnline = 2;
    EXPECT_EQ(Decide(User(), f), kLoginGroupFull);
    f.groupOnline = 1;
    EXPECT_EQ(Decide(User(), f), kLoginAllowed);

    f.groupOnline = 5;
    f.groupQuestions = 0;
    EXPECT_EQ(Decide(User("1"), f), kLoginAllowed);
    EXPECT_EQ(Decide(User("4"), f), kLoginAllowed);
    EXPECT_EQ(f.groupQuestions, 0);

    f.groupLimits["staff"] = 0;
    EXPECT_EQ(Decide(User(), f), kLoginAllowed);
    f.groupLimits.clear();  // a group that cannot be read limits nothing
    EXPECT_EQ(Decide(User(), f), kLoginAllowed);
}

TEST(LoginPolicy, RefusalTexts) {
    FakeFacts f;
    UserRecord u = User();
    u.maxLogins = 1;
    u.maxLoginsPerIp = 3;
    EXPECT_EQ(LoginRefusalText(kLoginDeleted, u, "bob", f, 0), "You have been deleted.");
    EXPECT_EQ(LoginRefusalText(kLoginShutdown, u, "bob", f, 0),
              "The server has been shut down, try again later.");
    EXPECT_EQ(LoginRefusalText(kLoginSiteFull, u, "bob", f, 0),
              "The site is full, try again later.");
    EXPECT_EQ(LoginRefusalText(kLoginMaxLogins, u, "bob", f, 0),
              "Sorry, your account is restricted to 1 simultaneous logins.");
    EXPECT_EQ(LoginRefusalText(kLoginMaxPerIp, u, "bob", f, 0),
              "Sorry, your max number of connections from this IP (3) has been reached.");
    EXPECT_EQ(LoginRefusalText(0, u, "bob", f, 0), "User bob cannot login.");

    f.groupLimits["staff"] = 4;
    EXPECT_EQ(LoginRefusalText(kLoginGroupFull, u, "bob", f, 0),
              "Sorry, your group is restricted to 4 simultaneous logins.");
    f.groupLimits.clear();  // the group went away between the check and the reply
    EXPECT_EQ(LoginRefusalText(kLoginGroupFull, u, "bob", f, 0),
              "Sorry, your group has too many simultaneous logins.");
}

TEST(LoginPolicy, TimeFrameRefusalShowsGreenwichTimes) {
    EXPECT_EQ(TimeFrameRefusal(9, 17, 0),
              "You can only log in between 09:00 and 17:00 (09:00 - 17:00 GMT).");
    EXPECT_EQ(TimeFrameRefusal(9, 17, 120),
              "You can only log in between 09:00 and 17:00 (07:00 - 15:00 GMT).");
    EXPECT_EQ(TimeFrameRefusal(1, 23, -300),
              "You can only log in between 01:00 and 23:00 (06:00 - 04:00 GMT).");
    // Half-hour zones borrow from the hour in both directions.
    EXPECT_EQ(TimeFrameRefusal(9, 17, 330),
              "You can only log in between 09:00 and 17:00 (03:30 - 11:30 GMT).");
    EXPECT_EQ(TimeFrameRefusal(9, 17, -210),
              "You can only log in between 09:00 and 17:00 (12:30 - 20:30 GMT).");
    EXPECT_EQ(TimeFrameRefusal(0, 2, 60),
              "You can only log in between 00:00 and 02:00 (23:00 - 01:00 GMT).");
}

TEST(LoginPolicy, AddressMasks) {
    UserRecord u = User();
    EXPECT_FALSE(AddressAllowed(u, "127.0.0.1"));  // no mask: nobody
    u.ipMasks[3] = "10.0.*";
    EXPECT_TRUE(AddressAllowed(u, "10.0.0.7"));
    EXPECT_FALSE(AddressAllowed(u, "110.0.0.7"));
    u.ipMasks[3] = "127.0.0.1";
    EXPECT_TRUE(AddressAllowed(u, "127.0.0.1"));
    EXPECT_FALSE(AddressAllowed(u, "127.0.0.10"));  // no "*": must be equal
    u.ipMasks[9] = "*";
    EXPECT_TRUE(AddressAllowed(u, "192.168.1.1"));
}

TEST(LoginPolicy, AnyPasswordGroup) {
    EXPECT_TRUE(AcceptsAnyPassword("99"));
    EXPECT_TRUE(AcceptsAnyPassword("099"));
    EXPECT_FALSE(AcceptsAnyPassword("990"));
    EXPECT_FALSE(AcceptsAnyPassword("100"));
    EXPECT_FALSE(AcceptsAnyPassword(""));
    EXPECT_FALSE(AcceptsAnyPassword("x99"));
}

}  // namespace
}  // namespace orvex
