// The client thread: greeting, the command loop with its login states, and the teardown.

#include <sys/socket.h>

#include "engine/Clock.h"
#include "engine/FtpSession.h"
#include "engine/PendingLogins.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

constexpr size_t kLineSize = 1024;
constexpr uint32_t kJobWaitStepMs = 100;
constexpr char kTick = '~';

bool VerbIs(const Args& args, std::string_view name) {
    return StringUtil::EqualNoCase(args[0], name);
}

bool BeginsWith(const Args& args, char letter) {
    return !args[0].empty() && (args[0][0] == letter || args[0][0] == letter + ('a' - 'A'));
}

bool IsTransferLine(std::string_view line) {
    for (std::string_view verb : {"RETR", "STOR", "STOU", "APPE"}) {
        if (line.size() >= 4 && StringUtil::CompareNoCaseN(line, verb, 4) == 0) return true;
    }
    return false;
}

}  // namespace

void FtpSession::RunClient() {
    ++Run().liveClients;
    if (!SocketUtil::SetKeepAlive(controlFd_)) {
        site_.LogProgram("MAIN", "Failed to set socket to KeepAlive.");
    }
    if (!SocketUtil::SetOobInline(controlFd_)) {
        site_.LogProgram("MAIN", "Failed to set socket to receive OOB data.");
    }
    SocketUtil::SetNoDelay(controlFd_);
    SendGreeting();
    if (namesAfterGreeting_) {
        namesAfterGreeting_ = false;
        LookUpNames();
        if (pendingAnnounce_) Announce(*pendingAnnounce_);
        pendingAnnounce_.reset();
    }
    if (!ended_) CommandLoop();
    Teardown();
}

void FtpSession::CommandLoop() {
    const Tokenizer tokenizer(kLineSize);
    const LoginLimits limits = site_.Logins().Limits();
    bool userAccepted = false;
    bool loggedIn = false;
    int failedLogins = 0;
    // A connection that never logs in holds a thread and a descriptor: it gets a deadline.
    int64_t loginDeadline = Clock::MonotonicMs() + int64_t{limits.loginSeconds} * 1000;
    Metrics& stats = site_.Stats();
    auto loggedOut = [&] {
        if (loggedIn) --stats.LoggedIn();
        loggedIn = false;
        loginDeadline = Clock::MonotonicMs() + int64_t{limits.loginSeconds} * 1000;
    };
    // False when the failure ends the connection.
    auto loginFailed = [&](const Args& args) {
        stats.CountLogin(false);
        if (++failedLogins < limits.failedLogins) return true;
        stats.CountPreLoginRefusal(Metrics::PreLoginRefusal::kFailedLogins);
        Respond(args, "Too many failed logins, closing control connection.", "421");
        abort_ = true;
        ended_ = true;
        return false;
    };

    while (!ended_) {
        if (Run().stopRequested) break;
        if (!loggedIn && Clock::MonotonicMs() >= loginDeadline) {
            stats.CountPreLoginRefusal(Metrics::PreLoginRefusal::kLoginTimeout);
            Respond(Args{}, "Login timed out, closing control connection.", "421");
            break;
        }

        std::string line;
        bool tick = false;
        // The wait covers the whole line: a client that stops in the middle of one still gets
        // its idle ticks, and a stop request is seen.
        const int ready = Replies().ReadLineWithin(line, kLineSize, CommandWaitMs());
        if (ready == 0) {
            line.assign(1, kTick);
            tick = true;
        } else if (ready < 0) {
            // A client that leaves without QUIT is no error of the connection.
            site_.LogProgram("MAIN",
                             Control().PeerClosed()
                                 ? "Client closed the connection (%s disconnected)."
                                 : "Error connecting to client (%s disconnected).",
                             user_.c_str());
            Quit(Args{});
            break;
        } else {
            SetLastActivity();
            StampCommand(line);
        }

        const Args args = tokenizer.Split(line);
        if (ready == ReplyBuilder::kLineTooLong) {
            // Never the arguments: they might hold a password.
            Respond(args.empty() ? Args{} : Args{args[0]}, "Command line too long.", "500");
            continue;
        }
        if (args.empty()) {
            NotUnderstood(args);
            continue;
        }

        if (!loggedIn) {
            if (VerbIs(args, "AUTH")) {
                // The reading side shares the channel, so it follows the switch to TLS by itself.
                Auth(args);
            } else if (VerbIs(args, "USER")) {
                userAccepted = User(args) != 0;
            } else if (VerbIs(args, "PASS") && userAccepted) {
                if (Pass(args)) {
                    if (OnLoggedIn()) {
                        stats.CountLogin(true);
                        ++stats.LoggedIn();
                        loginTime_ = Clock::NowSeconds();
                        loggedIn = true;
                        ReleaseLoginPlace();
                    }
                } else {
                    userAccepted = false;
                    if (!loginFailed(args)) break;
                }
            } else if (VerbIs(args, "FEAT")) {
                // Clients decide on AUTH TLS from it before they send their name.
                Feat(args);
            } else if (VerbIs(args, "OPTS")) {
                Opts(args);
            } else if (VerbIs(args, "PBSZ")) {
                Pbsz(args);
            } else if (VerbIs(args, "PROT")) {
                Prot(args);
            } else if (VerbIs(args, "QUIT")) {
                Quit(args);
            } else if (!tick) {
                Respond(args, "Please login with USER and PASS.", "530");
            }
            continue;
        }

        if (VerbIs(args, "AUTH")) {
            Auth(args);
        } else if (BeginsWith(args, 'A') && !VerbIs(args, "APPE")) {
            Dispatch(args);
        } else if (VerbIs(args, "PASS")) {
            if (!Pass(args)) {
                OnLogout();
                loggedOut();
                userAccepted = false;
                if (!loginFailed(args)) break;
            }
        } else if (BeginsWith(args, 'P')) {
            Dispatch(args);
        } else if (VerbIs(args, "USER")) {
            OnLogout();
            loggedOut();
            userAccepted = User(args) != 0;
        } else if (BeginsWith(args, 'U')) {
            Dispatch(args);
        } else if (tick) {
            if (!OnTick()) {
                Respond(args, "Connection timed out.", "550");
                abort_ = true;
                ended_ = true;
            }
        } else if (IsTransferLine(line) && runningTransfers_ >= 1) {
            Respond(args, "Only 1 transfer per control connection is allowed.", "550");
        } else {
            if (IsTransferLine(line)) StampTransfer(line);
            Dispatch(args);
        }
    }

    if (loggedIn) {
        OnLogout();
        --stats.LoggedIn();
    }
}

void FtpSession::Teardown() {
    // Transfer threads still hold the channel: stop them and cut the connection first, and free
    // the socket number and the TLS object only once no job can touch them any more (the kernel
    // hands a closed descriptor's number to the next accept at once).
    abort_ = true;
    ended_ = true;
    // Before the client can see the connection close, so that it may connect again at once.
    ReleaseLoginPlace();
    if (IsTls()) Control().ShutdownTls();
    SocketUtil::ShutdownBoth(controlFd_);
    while (RunningJobs() > 0) Clock::SleepMs(kJobWaitStepMs);

    Control().FreeTls();
    const int fd = controlFd_;
    Control().SetSocket(-1);
    SocketUtil::Close(controlFd_);
    ClosePassiveListener();
    site_.LogProgram("MAIN", "Connection closed (%u), %s disconnected.", static_cast<unsigned>(fd),
                     user_.c_str());
    site_.LogAccess(
        AccessLogEntry{localIp_, localPort_, peerIp_, peerPort_, user_, "DISCONNECT", "", "", ""});
    DecrementIfPositive(Run().liveClients);
}

}  // namespace orvex
