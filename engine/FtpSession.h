#pragma once
// One control connection: its state, one virtual handler per FTP verb, the dispatcher and the
// answering helpers. Server sessions derive from it and override single verbs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/FtpSite.h"
#include "engine/MachineListing.h"
#include "engine/ReplyBuilder.h"
#include "engine/Tokenizer.h"

namespace orvex {

struct TransferJob;

class FtpSession {
  public:
    FtpSession(int controlFd, FtpSite& site, const char* localIpOverride, bool resolveNames);
    virtual ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Runs the greeting, the command loop and the teardown; the client thread's body.
    void RunClient();
    // Host names of both ends, when the session was made to look them up. Runs in the session's
    // own thread: a slow name server must never hold the listener, and it is waited for a few
    // seconds at most.
    void LookUpNames();
    // The program and access log lines of a new connection ("CONNECT" or "CONNECTSSL").
    void Announce(bool tls);
    // Looks the names up (and announces the connection) only once the greeting is out, so that a
    // client never waits for a name server before it hears from the server.
    void LookUpNamesAfterGreeting() { namesAfterGreeting_ = resolveNames_; }
    // The session holds one of the site's places for connections that have not logged in; it
    // gives it back at its login or its end.
    void HoldLoginPlace(const std::string& key) { loginPlace_ = key; }
    // Reads the PROXY header the site's settings call for, before anything else happens on the
    // connection, and takes the client's address from it. False when the connection must be
    // closed (logged with the sender's real address). `clientSpeaksFirst`: implicit TLS.
    bool TakeProxyHeader(bool clientSpeaksFirst);
    // Closes the control socket of a connection that ends before its client thread ran.
    void CloseUnserved();

    virtual int Dispatch(const Args& args);

    // Command handlers: args[0] is the verb as typed. 1 success, 0 failure.
    virtual int Abor(const Args& args);
    virtual int Acct(const Args& args);
    virtual int Allo(const Args& args);
    virtual int Appe(const Args& args);
    virtual int Auth(const Args& args);
    virtual int Cdup(const Args& args);
    virtual int Cwd(const Args& args);
    virtual int Dele(const Args& args);
    virtual int Eprt(const Args& args);
    virtual int Epsv(const Args& args);
    virtual int Feat(const Args& args);
    virtual int Help(const Args& args);
    virtual int List(const Args& args);
    virtual int Mdtm(const Args& args);
    virtual int Mfmt(const Args& args);
    virtual int Mkd(const Args& args);
    virtual int Mlsd(const Args& args);
    virtual int Mlst(const Args& args);
    virtual int Mode(const Args& args);
    virtual int Nlst(const Args& args);
    virtual int Noop(const Args& args);
    virtual int Opts(const Args& args);
    virtual int Pass(const Args& args);
    virtual int Pasv(const Args& args);
    virtual int Pbsz(const Args& args);
    virtual int Port(const Args& args);
    virtual int Prot(const Args& args);
    virtual int Pwd(const Args& args);
    virtual int Quit(const Args& args);
    virtual int Rein(const Args& args);
    virtual int Rest(const Args& args);
    virtual int Retr(const Args& args);
    virtual int Rmd(const Args& args);
    virtual int Rnfr(const Args& args);
    virtual int Rnto(const Args& args);
    // After RNTO renamed `source` to `target` on disk and before its reply: what a server keeps
    // about the entry moves here, so that a client told "250" finds it after any crash.
    virtual void OnRenamed(const std::string& /*source*/, const std::string& /*target*/) {}
    // The same for MKD, once the directory is made.
    virtual void OnCreatedDirectory(const std::string& /*path*/) {}
    virtual int Size(const Args& args);
    virtual int Smnt(const Args& args);
    virtual int Stat(const Args& args);
    virtual int Stor(const Args& args, int storeMode);  // 0 STOR, 1 STOU, 2 APPE
    virtual int Stou(const Args& args);
    virtual int Stru(const Args& args);
    virtual int Syst(const Args& args);
    virtual int Type(const Args& args);
    virtual int User(const Args& args);
    virtual int Site(const Args& args);

    // Answers through the reply channel and writes the access (and error) log.
    int Respond(const Args& args, std::string_view text, std::string_view code, bool send = true,
                bool accessLog = true, bool errorLog = false, int lineMode = 0);
    // The same for transfer threads: the access log names `user`, the job's own copy, because
    // the client thread may change the session's user meanwhile.
    int RespondAs(const std::string& user, const Args& args, std::string_view text,
                  std::string_view code, bool errorLog = false);
    // Asks the site about `letters` for `path` (nullptr: no path) resolved against the session.
    int CheckAccess(const char* verb, const std::string* path, std::string_view letters,
                    bool checkParent);
    int NotUnderstood(const Args& args);
    // MDTM with two arguments or more whose first is a time: it sets that time.
    static bool SetsModifyTime(const Args& args);

    // Accessors shared with transfer threads.
    int ControlSocket() const { return controlFd_; }
    FtpSite& GetSite() { return site_; }
    ReplyBuilder& Replies() { return reply_; }
    ControlChannel& Control() { return channel_; }
    const SslHandle& Tls() const { return channel_.Tls(); }
    bool IsTls() const { return channel_.IsTls(); }
    bool DataProtection() const { return dataProtection_; }
    void SetDataProtection(bool on) { dataProtection_ = on; }
    void AttachTls(const SslHandle& h);  // implicit TLS: encrypted from the start, PROT P
    const std::string& PeerIp() const { return peerIp_; }
    const std::string& PeerPort() const { return peerPort_; }
    const std::string& PeerHost() const { return peerHost_; }
    // The balancer that sent the PROXY header; empty when the peer is the client itself.
    const std::string& RelayIp() const { return relayIp_; }
    const std::string& LocalIp() const { return localIp_; }
    const std::string& LocalPort() const { return localPort_; }
    const std::string& LocalHost() const { return localHost_; }
    const std::string& UserName() const { return user_; }
    // An ASCII receive over the session's data settings into `fileName` of `directory`, outside
    // the client's tree and its accounting; `received` decides what becomes of the file (see
    // TransferJob). False when no thread could be started; nothing is answered then.
    bool StartFileReceive(const std::string& directory, const std::string& fileName,
                          int64_t modifyTime,
                          std::function<bool(const std::string&, bool)> received);
    uint32_t ConnectionNumber() const { return connection_; }
    void SetConnectionNumber(uint32_t n) { connection_ = n; }
    bool Ended() const { return ended_; }
    void SetEnded(bool v) { ended_ = v; }
    bool Aborted() const { return abort_; }
    void SetAbort(bool v) { abort_ = v; }
    std::atomic<int>& RunningListings() { return runningListings_; }
    std::atomic<int>& RunningTransfers() { return runningTransfers_; }
    int RunningJobs() const { return runningListings_ + runningTransfers_; }
    // Sets the abort flag and gives the running jobs a few seconds to stop and send their final
    // replies, so that a client reads those before the answer to its ABOR or QUIT.
    void StopRunningJobs();
    bool Passive() const { return passive_; }
    int64_t LastActivity() const { return lastActivity_; }
    void SetLastActivity(int64_t t = 0);
    const std::string& Root() const { return root_; }
    const std::string& CurrentDirectory() const { return cwd_; }
    char TransferType() const { return type_; }

  protected:
    // Hooks the main server overrides; the base behaves as the standalone server.
    virtual void SendGreeting();
    virtual int CommandWaitMs() const { return 1000; }
    virtual void StampCommand(std::string_view /*line*/) {}
    virtual void StampTransfer(std::string_view /*line*/) {}
    // After a successful PASS; false keeps the session logged out.
    virtual bool OnLoggedIn() { return true; }
    virtual void OnLogout() {}
    // The idle tick after login; false ends the session.
    virtual bool OnTick() { return true; }
    // The form of a command that the logs may keep: servers leave out secrets typed as
    // arguments. PASS never reaches this point with its argument.
    virtual Args LoggableArgs(const Args& args) const { return args; }
    // PASS: whether `typed` matches the account's stored password (the base compares plainly).
    virtual bool VerifyPassword(const Account& account, const std::string& typed);

    // printf into the scratch message (at most 255 characters).
    const std::string& SetMessage(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    // Starts a listing or file job built from the session's state; false after replying.
    // `machine`: an MLSD listing with the session's choice of facts.
    bool StartJob(char jobType, int storeMode, const std::string& options,
                  const std::string& argument, int64_t modifyTime = 0, bool machine = false);
    void ClosePassiveListener();
    // The passive listener of PASV and EPSV; its port, or 0 after replying.
    unsigned OpenPassive(const Args& args);
    // The address PASV names to this client.
    std::string AnnouncedPassiveAddress() const;
    // `typed` resolved when the user may write there (STOR's letters); empty after replying.
    std::string WritablePath(const Args& args, const std::string& typed);
    // MFMT and MDTM's setting form: args[1] the time, the path after it.
    int SetModifyTime(const Args& args);
    // After EPSV ALL every other way to set up a data connection is refused (replies).
    bool RefusedAfterEpsvAll(const Args& args);
    // Makes a checked PORT or EPRT address the next data connection's.
    void UseActiveAddress(const std::string& address, unsigned port);
    // Whether the TLS material is there, so that AUTH can be offered.
    bool TlsOffered();
    // A job from the session's current state, and its start (false: no thread).
    std::unique_ptr<TransferJob> NewJob(char jobType, const std::string& argument,
                                        int64_t modifyTime);
    bool LaunchJob(std::unique_ptr<TransferJob> job);

    FtpSite& site_;
    ControlChannel channel_;
    ReplyBuilder reply_{channel_};
    int controlFd_;
    std::atomic<bool> dataProtection_{false};
    std::string peerIp_, peerPort_, peerHost_;
    std::string localIp_, localPort_, localHost_;
    std::string user_;  // 255
    std::atomic<uint32_t> connection_{0};
    std::string cwd_;
    std::string root_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> abort_{false};
    std::atomic<int> runningListings_{0};
    std::atomic<int> runningTransfers_{0};
    std::atomic<int64_t> lastActivity_;
    bool passive_ = false;
    int dataListener_ = -1;
    std::string portAddress_;  // 45
    bool epsvAll_ = false;
    bool controlIpv6_ = false;                           // the control connection runs over IPv6
    unsigned machineFacts_ = MachineListing::kAllFacts;  // what MLSD and MLST show (OPTS MLST)
    std::string portNumber_;                             // 15
    char type_ = 'A';
    int64_t restartOffset_ = 0;
    std::optional<std::string> renameSource_;
    std::string message_;
    int64_t loginTime_ = 0;
    bool resolveNames_ = false;
    bool namesAfterGreeting_ = false;
    std::optional<bool> pendingAnnounce_;    // tls, while the announcement waits for the names
    std::optional<std::string> loginPlace_;  // the address its place was taken for
    std::string relayIp_;                    // the PROXY header's sender
    std::string proxyDestination_;           // the address the client connected to

  private:
    void ReleaseLoginPlace();
    int Answer(const std::string& user, const Args& args, std::string_view text,
               std::string_view code, bool send, bool accessLog, bool errorLog, int lineMode);
    void CommandLoop();
    void Teardown();
};

}  // namespace orvex
