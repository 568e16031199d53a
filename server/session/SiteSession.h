#pragma once
// The main server's session: the engine's session bound to the server site, with the login of
// local users, the registry bookkeeping of a logged-in connection and the site's view of the
// current directory.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FtpSession.h"

namespace orvex {

class ServerSite;
struct UserRecord;
struct SiteCommand;

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
    int Mfmt(const Args& args) override;
    int Mkd(const Args& args) override;
    int Mlsd(const Args& args) override;
    int Mlst(const Args& args) override;
    int Pwd(const Args& args) override;
    int Quit(const Args& args) override;
    int Retr(const Args& args) override;
    int Rmd(const Args& args) override;
    int Rnfr(const Args& args) override;
    int Rnto(const Args& args) override;
    void OnRenamed(const std::string& source, const std::string& target) override;
    void OnCreatedDirectory(const std::string& path) override;
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

    // Runs the command's pre script, the command and its post script.
    int Dispatch(const Args& args) override;
    // The SITE handler: the access check of the sub-command, then its handler.
    int Site(const Args& args) override;

    // The SITE sub-command `name` (any case) as this session class serves it, or null.
    virtual const SiteCommand* FindSiteCommand(std::string_view name) const;
    // Custom SITE commands of the configuration; unknown names are not understood.
    virtual int SiteCustomCommand(const Args& args);
    // SITE REMOTE: only sessions that can reach remote servers know it.
    virtual int SiteRemote(const Args& args);

    // Whether the logged-in user may use the SITE command `command` (its name in capitals).
    bool CheckSiteAccess(std::string_view command);
    // Sends "help/<file>" as 200 lines closed by "Command Successful." (451 when unreadable).
    int SendHelp(const Args& args, std::string_view file);
    // Only the lines of "help/<file>"; false when it cannot be read.
    bool SendHelpLines(std::string_view file);
    // Sends the lines of an event log, of the last `days` days (0: all) that contain `pattern`,
    // as 200 lines; false when it cannot be read.
    bool ShowEventLog(std::string_view file, long days, std::string_view pattern);
    // Runs a program for a custom command and relays its output as 200 lines closed by
    // "Command Successful."; "Unable to run command." with 451 when it cannot run.
    int RunCommandProgram(const std::vector<std::string>& argv);
    // Runs the pre (true) or post script `script` (OS form) with `arguments`; false when the
    // command must not run.
    bool RunScript(const std::string& script, std::vector<std::string> arguments, bool pre);
    // A continuation line with code 200.
    void Line(std::string_view text);
    // Answers `text` whole, while the access log gets it with `secret` (a password it carries)
    // left out, as it never gets PASS arguments.
    int RespondWithSecret(const Args& args, std::string_view text, std::string_view secret,
                          std::string_view code);
    // A line in sysop.log under this session's user.
    void SysopLog(std::string_view message);
    // The inbox of an existing user (any case) under the stored spelling; empty for names that
    // are no users.
    std::string InboxOf(std::string_view user);
    // Appends a message from this session's user to `recipient`'s inbox; false when it cannot.
    bool SendMessage(std::string_view recipient, std::string_view text);
    // The engine's current real directory: its root joined with its current directory.
    std::string RealDirectory() const;
    // The passwd name of an entry's owner id: "system" for an entry without a record, empty
    // for an id nobody has.
    std::string OwnerName(std::optional<uint32_t> owner);

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
    // Hands the registry what other sessions may show of this one (SITE STATE).
    void PublishState();
    bool OnLoggedIn() override;
    void OnLogout() override;
    bool OnTick() override;
    bool VerifyPassword(const Account& account, const std::string& typed) override;
    // Leaves passwords out of SITE command lines.
    Args LoggableArgs(const Args& args) const override;
    // The pre (phase 1) or post (phase 2) script of the command; false when it refuses.
    bool RunCommandScript(const Args& args, int phase);

    // The account's home as a directory path: backslashes and one trailing backslash. An empty
    // home stays empty and so is refused, instead of becoming the root of the whole disk.
    static std::string HomeDirectory(std::string home);
    // A line in login.log about this session's peer; and a refused login: that line, the delay
    // of failed logins and "User %s cannot login.".
    void LogLoginEvent(std::string_view what);
    int RefuseLogin(const Args& logged, std::string_view what);
    // The login policy and the registration; false after answering the refusal.
    bool AdmitLogin(const Args& logged, const UserRecord& user);
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

    // Only the owner or a siteop may remove or rename an entry; false after refusing with
    // `shown`. `ownerName` gets the owner's name.
    bool MayChange(const Args& args, const std::string& shown, std::optional<uint32_t> owner,
                   std::string* ownerName = nullptr);
    // Whether the last component of `path` can be a new entry of the filesystem tables.
    static bool IsStorableLeaf(std::string_view path);
    // APPE, or STOR after REST, by the uploader of the file that is there: a resumed upload,
    // which the dupe check lets through.
    bool ResumesOwnUpload(const std::string& full, int storeMode);
    // The user's limit of simultaneous transfers of `kind` is reached (replies 553).
    bool TransferLimitReached(const Args& args, int kind);
    // Maps `typed` through the links, asks for the permission `letters` and resolves it against
    // the engine view; false after replying. `engineRoot` gets the root it was resolved under.
    bool ResolveChecked(const Args& args, const std::string& typed, std::string_view letters,
                        std::string& full, std::string* engineRoot = nullptr);
    // Runs an engine handler with the typed path mapped through the links. The path is made of
    // the arguments from `first` on; those before it are handed on as they came.
    int RunMapped(const Args& args, const char* verb, const std::function<int(const Args&)>& run,
                  bool directoryForm, size_t first = 1);

    ServerSite& server_;
    std::string siteDir_;
    std::string siteRoot_;
    bool siteBypass_ = false;
    // How deeply custom commands of mode IS are calling each other right now.
    int aliasDepth_ = 0;

  private:
    int32_t provisional_;
    bool registered_ = false;
};

}  // namespace orvex
