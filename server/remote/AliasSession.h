#pragma once
// The session created for every connection of the main server: the site session, plus the
// forwarding of commands whose path lies inside a remote alias. Inside an alias the command is
// rewritten for the remote server, sent over a pooled connection and its reply relayed; the
// client's PASV and PORT are forwarded too, so data runs between the client and that server.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/remote/AliasStore.h"
#include "server/session/SiteSession.h"

namespace orvex {

class AliasSession : public SiteSession {
  public:
    AliasSession(int controlFd, ServerSite& site, const char* localIpOverride, bool resolveNames);
    ~AliasSession() override;

    int Dispatch(const Args& args) override;

    int Abor(const Args& args) override;
    int Allo(const Args& args) override;
    int Cwd(const Args& args) override;
    int Dele(const Args& args) override;
    int Eprt(const Args& args) override;
    int Epsv(const Args& args) override;
    int List(const Args& args) override;
    int Mdtm(const Args& args) override;
    int Mfmt(const Args& args) override;
    int Mkd(const Args& args) override;
    int Mlsd(const Args& args) override;
    int Mlst(const Args& args) override;
    int Mode(const Args& args) override;
    int Nlst(const Args& args) override;
    int Noop(const Args& args) override;
    int Pass(const Args& args) override;
    int Pasv(const Args& args) override;
    int Pbsz(const Args& args) override;
    int Port(const Args& args) override;
    int Rest(const Args& args) override;
    int Retr(const Args& args) override;
    int Rmd(const Args& args) override;
    int Rnfr(const Args& args) override;
    int Rnto(const Args& args) override;
    int Size(const Args& args) override;
    int Stat(const Args& args) override;
    int Stor(const Args& args, int storeMode) override;
    int Type(const Args& args) override;

    const SiteCommand* FindSiteCommand(std::string_view name) const override;
    int SiteCustomCommand(const Args& args) override;
    int SiteRemote(const Args& args) override;
    // The SITE filesystem commands that may be forwarded into an alias.
    int SiteAliasCommand(const Args& args);

    // A path inside an alias: the alias, the local path and the path on the remote server.
    struct AliasTarget {
        AliasRecord alias;
        std::string full;
        std::string remote;
    };
    // `typed` resolved against the site view (the current directory when empty); directories
    // match their own alias directory too.
    std::optional<AliasTarget> TargetOf(std::string_view typed, bool directory);
    // The site-view form of a typed directory: resolved, with a trailing separator.
    std::string ResolveDirectory(std::string_view typed) const;
    // The alias directory below the site root with slashes and no leading one; false outside.
    bool SiteRelative(const std::string& directory, std::string& out) const;

    // What a forwarded command does to the connection the session holds in that alias: sets
    // state the next command relies on (the session keeps the connection), or uses it up.
    enum class Hold { None, Keep, Consume };
    // Sends `line` to the alias for this session; an empty reply when none came.
    RemoteReply ForwardToAlias(const std::string& directory, std::string_view line,
                               Hold hold = Hold::None);
    // Gives back what the session holds; state still pending closes the connection.
    void ReleaseHeld();
    // Every line with the remote's final code, the last one as the final line.
    void RelayReply(const Args& args, const RemoteReply& reply);
    // Relays a reply, or answers `failure` with 530 when none came. After a 1xx reply the
    // final one follows, so that it never stays behind on the connection.
    int RelayOr(const Args& args, const std::string& directory, const RemoteReply& reply,
                std::string_view failure);
    // Relays a 1xx reply's final reply once the transfer ended; `final` gets it.
    int RelayFinalReply(const Args& args, const std::string& directory,
                        RemoteReply* final = nullptr);

    // The path on the remote server for a local path inside `alias`; none outside it.
    static std::optional<std::string> ToRemotePath(std::string_view local,
                                                   const AliasRecord& alias);

    const std::optional<std::string>& ChosenMirror() const { return chosenMirror_; }
    uint32_t MirrorCounter() const { return mirrorCounter_; }

  protected:
    void OnLogout() override;
    Args LoggableArgs(const Args& args) const override;

  private:
    enum class TransferKind { Listing, Download, Upload };
    using Inherited = std::function<int(const Args&)>;
    struct PathRule {
        const char* verb;
        const char* letters;  // null: no permission letters
        const char* failure;
        bool directory;
    };

    std::optional<AliasRecord> CurrentAlias();
    // Whether PASV or PORT here would go to a remote server (an alias or a mirrored directory).
    bool DataComesFromElsewhere();
    // With a chosen mirror: `typed` as the same path below the mirror's alias directory.
    std::optional<AliasTarget> MirrorTargetOf(std::string_view typed, bool directory);
    // A chosen mirror that can no longer serve the command.
    int RefuseMirror(const Args& args);
    // A command on the current directory: forwarded inside an alias, else inherited.
    int OnCurrent(const Args& args, const std::string& line, const char* failure,
                  const Inherited& inherited, Hold hold = Hold::None);
    // A command on one path.
    int OnPath(const Args& args, const PathRule& rule, const Inherited& inherited,
               Hold hold = Hold::None);
    int ForwardListing(const Args& args, const char* verb, const Inherited& inherited);
    // `prelude`: a command sent first on the same connection.
    int ForwardTransfer(const Args& args, const AliasTarget& target, const std::string& line,
                        TransferKind kind, const std::string& prelude = {});
    int ForwardDataPort(const Args& args, bool port, const Inherited& inherited);
    // MFMT, and MDTM with a time: sent on as MFMT where the remote server offers it.
    int ForwardModifyTime(const Args& args, const Inherited& inherited);
    // Whether the alias's server lists `feature` in its FEAT reply, asked once per session and
    // alias; none when it did not answer.
    std::optional<bool> RemoteOffers(const std::string& directory, std::string_view feature);
    // Credits and statistics of a transfer through an alias to another server of this kind:
    // what the first reply announced, and what the final one says moved.
    struct TransferAccount {
        uint64_t announced = 0;
        bool charged = false;
    };
    TransferAccount ChargeTransfer(const std::string& path, TransferKind kind,
                                   const RemoteReply& first);
    void SettleTransfer(const std::string& path, TransferKind kind, const TransferAccount& account,
                        const RemoteReply& final);
    // 1 the remote's data protection matches the session's, -1 a clear alias cannot give the
    // protection asked for, 0 the remote server refused.
    int SyncProtection(const AliasRecord& alias);
    // Users of other servers (SharedPass.cpp). An unknown name asked of the servers behind the
    // sharing aliases: the alias that knew it, with the session's user now its shared name.
    std::optional<AliasRecord> FetchUnknownUser();
    int SharedPass(const Args& args, const std::optional<AliasRecord>& fetched);
    // What the client sent while its transfer ran.
    ClientInput ReadClientInput();
    // The servers this session's commands have passed through, this one last.
    std::string ViaChain() const;
    bool AcceptVia(const Args& args);

    // The alias directory picked by the last PASV or PORT in a mirrored directory; the next
    // transfer command consumes it.
    std::optional<std::string> chosenMirror_;
    // Raised at every weighted mirror choice and mixed into its seed.
    uint32_t mirrorCounter_ = 0;
    // The FEAT lines of the aliases' servers, by alias directory in upper case.
    std::map<std::string, std::vector<std::string>> remoteFeatures_;
    // MODE as the client set it inside aliases (TYPE is the engine's own field).
    char remoteMode_ = 'S';
    // The alias where a command left its connection held, and whether the running command
    // was sent there (any other command lets it go).
    std::string heldAlias_;
    bool touchedHeld_ = false;
    // The held connection carries a forwarded PASV or PORT: it stays, whatever commands come
    // between, until the transfer command that uses it (or another data command).
    bool dataPortHeld_ = false;
    // The forwarding chain announced by the server this session came from, and whether this
    // server is already part of it.
    std::string upstream_;
    bool looped_ = false;
};

}  // namespace orvex
