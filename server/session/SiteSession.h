#pragma once
// The main server's session: the engine's session bound to the server site, with the login of
// local users, the registry bookkeeping of a logged-in connection and the site's view of the
// current directory.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/FtpSession.h"

namespace orvex {

class ServerSite;
struct UserRecord;

class SiteSession : public FtpSession {
  public:
    SiteSession(int controlFd, ServerSite& site, const char* localIpOverride, bool resolveNames);
    ~SiteSession() override;

    int Pass(const Args& args) override;
    int User(const Args& args) override;

    // The policy checks after the right password: 1 allowed, else a negative reason code.
    int CheckLogin(const UserRecord& user);

    // Moves both views of the current directory into `path` below the root when it is an
    // existing directory; whether it did.
    bool EnterStartDir(std::string_view path);
    // True when the user's record exists and its flags hold any of `flags`.
    bool HasFlag(std::string_view flags, const std::string& user);
    // Appends one line to an event log in the data folder "logs/"; 1 written, 0 not.
    int WriteEventLog(std::string_view file, std::string_view message, std::string_view user);

    ServerSite& Server() { return server_; }
    const std::string& SiteDirectory() const { return siteDir_; }
    const std::string& SiteRoot() const { return siteRoot_; }
    bool SiteBypass() const { return siteBypass_; }
    void SetSiteBypass(bool on) { siteBypass_ = on; }
    bool Registered() const { return registered_; }
    // The number a session carries until its login is registered (-99 .. -2, in turn).
    int32_t ProvisionalNumber() const { return provisional_; }
    static int32_t NextProvisionalNumber();

  protected:
    void SendGreeting() override;
    int CommandWaitMs() const override { return 2000; }
    void StampCommand(std::string_view line) override;
    void StampTransfer(std::string_view line) override;
    bool OnLoggedIn() override;
    void OnLogout() override;
    bool OnTick() override;
    bool VerifyPassword(const Account& account, const std::string& typed) override;

    // Takes `home` as the root of both views and enters the user's start-up directory; false
    // (after logging) when it is no directory.
    bool SetUpHome(const std::string& home, const UserRecord& user);
    // Welcome text, the INBOX notice and "User %s logged in.".
    void SendLoginSuccess(const Args& logged);
    // Checks and registration as one step, so that concurrent logins never exceed a limit.
    int CheckAndRegister(const UserRecord& user);
    void Unregister();

    ServerSite& server_;
    std::string siteDir_;
    std::string siteRoot_;
    std::optional<std::string> siteRenameSource_;
    bool siteBypass_ = false;

  private:
    int32_t provisional_;
    bool registered_ = false;
};

}  // namespace orvex
