// PASS: checks the account the site knows for the name given with USER.

#include <cstdlib>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

constexpr size_t kPasswordLength = 16;
constexpr size_t kHomeLength = 264;
constexpr uint32_t kFailedLoginDelayMs = 3000;
constexpr long kAnyPasswordGroup = 99;

bool AcceptsAnyPassword(const std::string& gid) {
    char* end = nullptr;
    const long value = std::strtol(gid.c_str(), &end, 10);
    return end != gid.c_str() && value == kAnyPasswordGroup;
}

// The stored home as a directory path: backslashes, absolute, one trailing backslash. An empty
// home is the drive root.
std::string HomeDirectory(std::string home) {
    FileUtil::ToBackslashes(home);
    const bool drive = home.size() >= 2 && home[1] == ':';
    if (!home.empty() && home[0] != '\\' && !drive) home = FileUtil::CurrentDir() + home;
    StringUtil::Truncate(home, kHomeLength);
    if (home.empty() || home.back() != '\\') home += '\\';
    return home;
}

}  // namespace

int FtpSession::Pass(const Args& args) {
    // The password never reaches the access log.
    const Args logged{args.empty() ? std::string("PASS") : args[0]};
    std::string typed = args.size() > 1 ? args[1] : std::string();
    StringUtil::Truncate(typed, kPasswordLength);

    bool ok = false;
    if (site_.UserExists(user_)) {
        if (std::optional<Account> account = site_.GetAccount(user_)) {
            if (AcceptsAnyPassword(account->gid) || VerifyPassword(*account, typed)) {
                const std::string home = HomeDirectory(account->home);
                if (FileUtil::IsDirectory(home)) {
                    root_ = home;
                    cwd_.clear();
                    ok = true;
                } else {
                    site_.LogProgram("FTPD", "User %s has an invalid home directory (%s).",
                                     user_.c_str(), home.c_str());
                    Respond(logged,
                            SetMessage("User %s has an invalid home directory.", user_.c_str()),
                            "530", true, false, false, 1);
                }
            }
        }
    }
    if (ok) {
        Respond(logged, SetMessage("User %s logged in.", user_.c_str()), "230");
        return 1;
    }
    // Sleeps in this session's own thread only: nothing shared is held here.
    Clock::SleepMs(kFailedLoginDelayMs);
    Respond(logged, SetMessage("User %s cannot login.", user_.c_str()), "530");
    return 0;
}

}  // namespace orvex
