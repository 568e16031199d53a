// PASS for local users: the address, password and home checks, the login policy, and the
// registration of the connection that follows an accepted login.

#include <ctime>
#include <mutex>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/session/LoginPolicy.h"
#include "server/session/SiteSession.h"

namespace orvex {

namespace {

constexpr uint32_t kFailedLoginDelayMs = 3000;
constexpr const char* kLoginLog = "login.log";

// Held from the first check to the registration, so that two logins at once cannot both take the
// last place of a limit. Nothing else takes it, and it is always the outermost lock.
std::mutex loginLock;

class SiteLoginFacts : public LoginFacts {
  public:
    explicit SiteLoginFacts(ServerSite& site) : site_(site) {}

    uint32_t ShutdownLevel() override { return site_.Config().GetShutdown(); }
    uint32_t MaxUsers() override { return site_.Config().GetMaxUsers(); }
    uint32_t MaxExemptUsers() override { return site_.Config().GetMaxExemptUsers(); }
    size_t OnlineCount() override { return site_.Registry().CountOnline(); }
    int LoginsOf(const std::string& user) override { return site_.Registry().CountLogins(user); }
    int LoginsFrom(const std::string& user, const std::string& ip) override {
        return site_.Registry().CountLogins(user, &ip);
    }
    int LocalHour() override {
        struct tm parts {};
        if (!FtpSite::BreakDownTime(Clock::NowSeconds(), parts, false)) return -1;
        return parts.tm_hour;
    }
    std::optional<uint32_t> GroupLoginLimit(const std::string& group) override {
        if (group.empty()) return std::nullopt;
        const std::optional<GroupRecord> g = site_.Groups().FindGroup(group);
        if (!g) return std::nullopt;
        return g->logins;
    }
    int GroupOnline(const std::string& group) override {
        // One look-up per user online, not per session; the registry's lock is released before
        // the user store is asked: never nested.
        int count = 0;
        for (const auto& [name, logins] : site_.Registry().OnlineUsers()) {
            const std::optional<UserRecord> user = site_.Users().FindUser(name);
            if (user && StringUtil::EqualNoCase(user->group, group)) count += logins;
        }
        return count;
    }

  private:
    ServerSite& site_;
};

}  // namespace

std::string SiteSession::HomeDirectory(std::string home) {
    if (home.empty()) return home;
    FileUtil::ToBackslashes(home);
    FileUtil::AddTrailingSep(home);
    return home;
}

void SiteSession::LogLoginEvent(std::string_view what) {
    WriteEventLog(kLoginLog, ": " + peerHost_ + " (" + peerIp_ + "): " + std::string(what), user_);
}

int SiteSession::RefuseLogin(const Args& logged, std::string_view what) {
    LogLoginEvent(what);
    // Sleeps in this session's own thread only: nothing shared is held here.
    Clock::SleepMs(kFailedLoginDelayMs);
    Respond(logged, SetMessage("User %s cannot login.", user_.c_str()), "530");
    return 0;
}

bool SiteSession::AdmitLogin(const Args& logged, const UserRecord& user) {
    const int verdict = CheckAndRegister(user);
    if (verdict == kLoginAllowed) return true;
    SiteLoginFacts facts(server_);
    Respond(logged, LoginRefusalText(verdict, user, user_, facts, FtpSite::UtcOffsetMinutes()),
            "530");
    return false;
}

int SiteSession::CheckLogin(const UserRecord& user) {
    SiteLoginFacts facts(server_);
    const int verdict = DecideLogin(user, user_, peerIp_, facts);
    if (verdict == kLoginDeleted) {
        WriteEventLog(kLoginLog,
                      StringUtil::Format(": %s (%s): Deleted.", peerHost_.c_str(), peerIp_.c_str()),
                      user_);
    }
    return verdict;
}

int SiteSession::CheckAndRegister(const UserRecord& user) {
    std::lock_guard<std::mutex> hold(loginLock);
    const int verdict = CheckLogin(user);
    // A PASS repeated after login keeps the registration it has.
    if (verdict != kLoginAllowed || registered_) return verdict;
    const uint32_t number = server_.Registry().Register(user_, this, peerIp_);
    if (number == 0) return 0;
    SetConnectionNumber(number);
    registered_ = true;
    return verdict;
}

bool SiteSession::SetUpHome(const std::string& home, const UserRecord& user) {
    if (home.empty() || !FileUtil::IsDirectory(home)) {
        server_.LogProgram("FTPD", "User %s has an invalid home directory (%s).", user_.c_str(),
                           home.c_str());
        return false;
    }
    root_ = home;
    siteRoot_ = home;
    cwd_.clear();
    siteDir_.clear();
    EnterStartDir(user.startDir);
    return true;
}

void SiteSession::SendLoginSuccess(const Args& logged) {
    const std::string welcome = server_.MakeDataPath("misc/", "welcome.msg");
    if (!welcome.empty()) TextFileReply::Send(Replies(), welcome, "230", std::nullopt, 1);
    NoteInbox(logged, "230");
    Respond(logged, SetMessage("User %s logged in.", user_.c_str()), "230");
}

int SiteSession::Pass(const Args& args) {
    // The password never reaches the access log.
    const Args logged{args.empty() ? std::string("PASS") : args[0]};
    auto logEvent = [&](const char* what) { LogLoginEvent(what); };
    auto refuse = [&](const char* what) { return RefuseLogin(logged, what); };

    // Only valid names are looked up, so a name never leads the store outside its folder.
    std::string stored;
    std::optional<UserRecord> user;
    if (IsValidUserName(user_)) user = server_.Users().FindUser(user_, &stored);
    if (!user) return refuse("Unknown user.");
    if (!stored.empty()) user_ = stored;

    const bool addressOk = AddressAllowed(*user, peerIp_);

    std::string typed = args.size() > 1 ? args[1] : std::string();
    StringUtil::Truncate(typed, kPasswordSignificant);
    const std::optional<Account> account = server_.GetAccount(user_);
    const bool passwordOk =
        account && (AcceptsAnyPassword(account->gid) || VerifyPassword(*account, typed));

    bool homeOk = false;
    if (addressOk && passwordOk) {
        homeOk = SetUpHome(HomeDirectory(account->home), *user);
        if (!homeOk) {
            Respond(logged, SetMessage("User %s has an invalid home directory.", user_.c_str()),
                    "530", true, false, false, 1);
        }
    }

    if (!addressOk) {
        if (!passwordOk) return refuse("Login failure.");
        logEvent("Bad host.");
        Respond(logged,
                SetMessage("\"%s\" is not valid for the account specified.", peerIp_.c_str()),
                "530");
        return 0;
    }
    if (!passwordOk || !homeOk) return refuse("Login failure.");

    if (!AdmitLogin(logged, *user)) return 0;
    SendLoginSuccess(logged);
    return 1;
}

}  // namespace orvex
