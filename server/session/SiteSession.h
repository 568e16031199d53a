#pragma once
// The main server's session: the engine's session bound to the server site, with the login of
// local users, the registry bookkeeping of a logged-in connection and the site's view of the
// current directory.

#include <cstdint>
#include <functional>
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

    // Standard commands that keep to the directory links, the owners of entries, the user limits
    // and the dupe log, and tell the filesystem what they changed.
    int Cwd(const Args& args) override;
    int Dele(const Args& args) override;
    int List(const Args& args) override;
    int Mdtm(const Args& args) override;
    int Mkd(const Args& args) override;
    int Pwd(const Args& args) override;
    int Quit(const Args& args) override;
    int Retr(const Args& args) override;
    int Rmd(const Args& args) override;
    int Rnfr(const Args& args) override;
    int Rnto(const Args& args) override;
    int Size(const Args& args) override;
    int Stat(const Args& args) override;
    int Stor(const Args& args, int storeMode) override;

    // The engine view for a path as the client typed it: inside a directory link the engine's
    // root becomes the link's real directory. `path` is what to hand the engine instead of the
    // typed path (none: the typed one already reaches the same place); RestorePath puts the
    // replaced view back.
    struct MappedPath {
        std::optional<std::string> path;
        std::string savedRoot, savedCwd;
        const std::string& Or(const std::string& typed) const { return path ? *path : typed; }
    };
    MappedPath MapPath(std::string_view typed);
    void RestorePath(const MappedPath& mapped);

    // "3d 4h", "2h 5m" or "7m 12s" for the span from `start` to `end` (seconds).
    static std::string FormatDuration(int64_t start, int64_t end);

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
    // A continuation line with `code` telling that the user has messages, when there are any.
    void NoteInbox(const Args& args, std::string_view code);
    // Welcome text, the INBOX notice and "User %s logged in.".
    void SendLoginSuccess(const Args& logged);
    // Checks and registration as one step, so that concurrent logins never exceed a limit.
    int CheckAndRegister(const UserRecord& user);
    void Unregister();

    // Owners of entries: the passwd name of an owner id ("system" for an entry without a
    // record, empty for an id nobody has). Only the owner or a siteop may remove or rename an
    // entry; false after refusing with `shown`. `ownerName` gets the owner's name.
    std::string OwnerName(std::optional<uint32_t> owner);
    bool MayChange(const Args& args, const std::string& shown, std::optional<uint32_t> owner,
                   std::string* ownerName = nullptr);
    // Whether the last component of `path` can be a new entry of the filesystem tables.
    static bool IsStorableLeaf(std::string_view path);
    // The user's limit of simultaneous transfers of `kind` is reached (replies 553).
    bool TransferLimitReached(const Args& args, int kind);
    // Maps `typed` through the links, asks for the permission `letters` and resolves it against
    // the engine view; false after replying. `engineRoot` gets the root it was resolved under.
    bool ResolveChecked(const Args& args, const std::string& typed, std::string_view letters,
                        std::string& full, std::string* engineRoot = nullptr);
    // Runs an engine handler with the typed path mapped through the links.
    int RunMapped(const Args& args, const char* verb, const std::function<int(const Args&)>& run,
                  bool directoryForm);

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
