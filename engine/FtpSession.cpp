// Session state and the three answering helpers every handler uses.

#include "engine/FtpSession.h"

#include <cstdarg>
#include <cstdio>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {
constexpr size_t kIpSize = 46;  // the longest IPv6 text and its end
constexpr size_t kPortSize = 16;
constexpr size_t kHostSize = 256;
constexpr size_t kMessageSize = 256;
constexpr uint32_t kNameLookupMs = 2000;  // per name; the session goes on without it
}  // namespace

FtpSession::FtpSession(int controlFd, FtpSite& site, const char* localIpOverride, bool resolveNames)
    : site_(site),
      channel_(controlFd),
      controlFd_(controlFd),
      lastActivity_(Clock::NowSeconds()),
      resolveNames_(resolveNames) {
    SocketUtil::PeerAddress(controlFd, peerIp_, peerPort_);
    SocketUtil::LocalAddress(controlFd, localIp_, localPort_);
    controlIpv6_ = SocketUtil::IsIpv6(localIp_);
    StringUtil::Truncate(peerIp_, kIpSize - 1);
    StringUtil::Truncate(peerPort_, kPortSize - 1);
    StringUtil::Truncate(localPort_, kPortSize - 1);
    if (localIpOverride && *localIpOverride) localIp_ = localIpOverride;
    StringUtil::Truncate(localIp_, kIpSize - 1);
    root_ = site_.MakeHomePath("");
}

FtpSession::~FtpSession() {
    ClosePassiveListener();
    ReleaseLoginPlace();
}

void FtpSession::LookUpNames() {
    if (!resolveNames_ || namesAfterGreeting_) return;
    resolveNames_ = false;
    // The names describe the real socket, not an address the site announces instead.
    std::string localIp, port;
    SocketUtil::LocalAddress(controlFd_, localIp, port);
    if (!peerIp_.empty()) peerHost_ = SocketUtil::ReverseLookup(peerIp_, kNameLookupMs);
    if (!localIp.empty()) localHost_ = SocketUtil::ReverseLookup(localIp, kNameLookupMs);
    StringUtil::Truncate(peerHost_, kHostSize - 1);
    StringUtil::Truncate(localHost_, kHostSize - 1);
}

void FtpSession::Announce(bool tls) {
    if (namesAfterGreeting_) {
        pendingAnnounce_ = tls;
        return;
    }
    site_.LogProgram("MAIN",
                     tls ? "SSL connection established from %s:%s -> %s (%u)."
                         : "Connection established from %s:%s -> %s (%u).",
                     peerIp_.c_str(), peerPort_.c_str(), peerHost_.c_str(),
                     static_cast<unsigned>(controlFd_));
    site_.LogAccess(AccessLogEntry{localIp_, localPort_, peerIp_, peerPort_, user_,
                                   tls ? "CONNECTSSL" : "CONNECT", "", "", ""});
}

void FtpSession::CloseUnserved() {
    ReleaseLoginPlace();
    channel_.SetSocket(-1);
    SocketUtil::Close(controlFd_);
}

void FtpSession::ReleaseLoginPlace() {
    if (!loginPlace_) return;
    site_.Logins().Leave(*loginPlace_);
    loginPlace_.reset();
}

void FtpSession::AttachTls(const SslHandle& h) {
    channel_.SetTls(h);
    channel_.UseTls(h.Open());
    dataProtection_ = h.Open();
}

void FtpSession::SetLastActivity(int64_t t) {
    lastActivity_ = t != 0 ? t : Clock::NowSeconds();
}

const std::string& FtpSession::SetMessage(const char* fmt, ...) {
    char buf[kMessageSize];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) buf[0] = '\0';
    message_ = buf;
    return message_;
}

int FtpSession::Respond(const Args& args, std::string_view text, std::string_view code, bool send,
                        bool accessLog, bool errorLog, int lineMode) {
    return Answer(user_, args, text, code, send, accessLog, errorLog, lineMode);
}

int FtpSession::RespondAs(const std::string& user, const Args& args, std::string_view text,
                          std::string_view code, bool errorLog) {
    return Answer(user, args, text, code, true, true, errorLog, 0);
}

int FtpSession::Answer(const std::string& user, const Args& args, std::string_view text,
                       std::string_view code, bool send, bool accessLog, bool errorLog,
                       int lineMode) {
    const Args logged = LoggableArgs(args);
    const std::string verb = logged.empty() ? std::string() : logged[0];
    // A password never reaches a log, whatever state the session is in when it comes.
    const bool secret = StringUtil::EqualNoCase(verb, "PASS");
    const std::string arguments = logged.size() > 1 && !secret ? Join(logged) : std::string();
    if (accessLog && !code.empty()) {
        site_.LogAccess(AccessLogEntry{localIp_, localPort_, peerIp_, peerPort_, user, verb,
                                       arguments, code, text});
    }
    if (errorLog && !text.empty()) {
        const std::string t(text);
        site_.LogProgram("FTPD", "\"%s\" occured in '%s %s'", t.c_str(), verb.c_str(),
                         arguments.c_str());
    }
    if (send && !text.empty() && !code.empty()) return reply_.Reply(text, code, lineMode) ? 1 : 0;
    return 1;
}

int FtpSession::CheckAccess(const char* verb, const std::string* path, std::string_view letters,
                            bool checkParent) {
    if (!verb || letters.empty()) {
        Respond(Args{}, "ERROR: Invalid parameters while checking permissions.", "451", true, true,
                true);
        return 0;
    }
    const Args args{verb};
    bool allowed = true;
    if (!path) {
        allowed = site_.CheckPermission(user_, std::string(), letters);
    } else {
        std::string full = FileUtil::Resolve(root_, cwd_, *path);
        // Empty: a symbolic link would lead the path out of the root.
        allowed = !full.empty();
        int kind = allowed ? FileUtil::Kind(full) : 0;
        if (kind == 2) {
            FileUtil::StripTrailingSep(full);
        } else if (kind == 1) {
            FileUtil::AddTrailingSep(full);
        } else if (allowed && checkParent) {
            FileUtil::StripTrailingSep(full);
            full = FileUtil::DirName(full);
            kind = FileUtil::Kind(full);
        }
        // A path that does not exist is left for the handler to refuse with its own reply.
        if (allowed && kind != 0) allowed = site_.CheckPermission(user_, full, letters);
    }
    if (allowed) return 1;
    const std::string shown = path ? FileUtil::Slashed(*path) : std::string();
    Respond(args, SetMessage("%s: Permission denied.", shown.c_str()), "550");
    return 0;
}

int FtpSession::NotUnderstood(const Args& args) {
    if (args.empty()) {
        Respond(args, "command not understood", "500");
        return 0;
    }
    const std::string joined = Join(args);
    Respond(args, SetMessage("'%s %s': command not understood", args[0].c_str(), joined.c_str()),
            "500");
    return 0;
}

bool FtpSession::VerifyPassword(const Account& account, const std::string& typed) {
    return account.password == typed;
}

void FtpSession::SendGreeting() {
    Replies().Reply("Connected to Vantor", "220");
}

}  // namespace orvex
