#include "server/session/SiteSession.h"

#include <atomic>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"

namespace orvex {

namespace {

constexpr int32_t kFirstProvisional = -99;
constexpr int32_t kLastProvisional = -2;

std::atomic<int32_t> nextProvisional{kFirstProvisional};

}  // namespace

int32_t SiteSession::NextProvisionalNumber() {
    int32_t n = nextProvisional.load();
    int32_t following;
    do {
        following = n >= kLastProvisional ? kFirstProvisional : n + 1;
    } while (!nextProvisional.compare_exchange_weak(n, following));
    return n;
}

SiteSession::SiteSession(int controlFd, ServerSite& site, const char* localIpOverride,
                         bool resolveNames)
    : FtpSession(controlFd, site, localIpOverride, resolveNames),
      server_(site),
      siteRoot_(site.MakeHomePath("")),
      provisional_(NextProvisionalNumber()) {
    SetConnectionNumber(static_cast<uint32_t>(provisional_));
}

SiteSession::~SiteSession() {
    // The registry points at this object; it must not outlive the entry.
    Unregister();
}

int SiteSession::User(const Args& args) {
    if (server_.Config().GetAuthMode() == 1 && !IsTls()) {
        Respond(args, "Clear control connections are not allowed.", "501");
        return 0;
    }
    return FtpSession::User(args);
}

bool SiteSession::EnterStartDir(std::string_view path) {
    const std::string full = FileUtil::Resolve(root_, "", path);
    if (full.empty() || !FileUtil::IsDirectory(full)) return false;
    std::string_view rest;
    if (!FileUtil::SkipPrefixNoCase(full, root_, rest)) return false;
    std::string relative(rest);
    FileUtil::StripLeadingSep(relative);
    if (!relative.empty()) FileUtil::AddTrailingSep(relative);
    cwd_ = relative;
    siteDir_ = relative;
    return true;
}

bool SiteSession::HasFlag(std::string_view flags, const std::string& user) {
    const std::optional<UserRecord> record = server_.Users().FindUser(user);
    return record && record->flags.find_first_of(flags) != std::string::npos;
}

void SiteSession::SendGreeting() {
    const std::string banner = server_.MakeDataPath("misc/", "banner");
    if (!banner.empty()) TextFileReply::Send(Replies(), banner, "220", std::nullopt, 1);
    std::string prompt = server_.Config().GetLoginPrompt();
    if (prompt.empty()) prompt = "login";
    Replies().Reply(prompt, "220");
}

void SiteSession::StampCommand(std::string_view line) {
    if (!registered_) return;
    const Args args = Tokenizer().Split(line);
    const Args shown = LoggableArgs(args);
    // WHO and STATE show this line: it must not hold a password.
    server_.Registry().Touch(ConnectionNumber(),
                             shown.size() == args.size() ? std::string(line) : Join(shown, 0, 0));
}

void SiteSession::PublishState() {
    // The directory as the user sees it (PWD), not the engine's view inside a link.
    if (registered_) server_.Registry().NoteState(ConnectionNumber(), siteDir_, passive_);
}

void SiteSession::StampTransfer(std::string_view line) {
    if (registered_) server_.Registry().NoteTransfer(ConnectionNumber(), line);
}

bool SiteSession::OnLoggedIn() {
    // PASS registered the connection together with its checks.
    if (!registered_) return false;
    PublishState();
    // A store failure here does not undo the login.
    server_.Users().RecordLogin(ConnectionNumber(), user_);
    return true;
}

void SiteSession::OnLogout() {
    Unregister();
}

void SiteSession::Unregister() {
    if (!registered_) return;
    server_.Registry().Unregister(ConnectionNumber());
    registered_ = false;
    SetConnectionNumber(static_cast<uint32_t>(provisional_));
}

bool SiteSession::OnTick() {
    return server_.Users().CheckSessionLimits(user_, LastActivity(), loginTime_, RunningJobs());
}

bool SiteSession::VerifyPassword(const Account& account, const std::string& typed) {
    // The stored form was made under the account's own spelling of the name.
    return orvex::VerifyPassword(account.password, account.user, typed);
}

}  // namespace orvex
