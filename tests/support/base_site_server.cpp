// base-site-server: the engine with the base site, every account's home being --root.
//
//   base-site-server --port P --root DIR [--bind IP] [--cert FILE --key FILE --pass PHRASE]
//                    [--implicit-port P] [--log-dir DIR] [--account NAME:PASSWORD[:HOME]]...
//                    [--download-limit BPS] [--upload-limit BPS] [--refuse-fxp 0|1]
//                    [--max-pending PER_ADDRESS:TOTAL] [--login-timeout SECONDS]
//
// FXP is refused unless --refuse-fxp 0 is given; --max-pending and --login-timeout change the
// engine's limits for connections that have not logged in.
//
// Without --account every name logs in with any password. With it, only the accounts given
// exist and their passwords are checked; HOME (default: DIR) need not exist.
//
// Prints "ready P" (and "ready-ssl P" with --implicit-port) once it listens; P is the port the
// system chose when 0 was asked for. Ends on SIGTERM or SIGINT.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/Listener.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/ThreadUtil.h"

namespace {

using namespace orvex;

struct TestAccount {
    std::string name, password, home;
};

struct Options {
    std::string port;
    std::string root;
    std::string bind;
    std::string certFile, keyFile, passPhrase;
    bool havePass = false;
    std::optional<std::string> implicitPort;
    std::string logDir;
    std::vector<TestAccount> accounts;
    uint32_t downloadLimit = 0, uploadLimit = 0;
    bool refuseFxp = true;
    LoginLimits logins;
};

std::optional<std::string> ReadWholeFile(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Internal form of an OS directory: backslashes and a trailing backslash.
std::string InternalDir(std::string dir) {
    FileUtil::ToBackslashes(dir);
    FileUtil::AddTrailingSep(dir);
    return dir;
}

class TestSite : public FtpSite {
  public:
    explicit TestSite(const Options& o)
        : home_(InternalDir(o.root)),
          keyFile_(o.keyFile),
          certFile_(o.certFile),
          pass_(o.passPhrase),
          havePass_(o.havePass),
          accounts_(o.accounts),
          refuseFxp_(o.refuseFxp) {
        SetDownloadLimit(o.downloadLimit);
        SetUploadLimit(o.uploadLimit);
        Logins().SetLimits(o.logins);
    }

    bool UserExists(std::string& user) override {
        return accounts_.empty() || Find(user) != nullptr;
    }
    std::optional<Account> GetAccount(const std::string& user) override {
        if (accounts_.empty()) {
            std::optional<Account> account = FtpSite::GetAccount(user);
            if (account) account->home = home_;
            return account;
        }
        const TestAccount* found = Find(user);
        if (!found) return std::nullopt;
        Account account;
        account.user = found->name;
        account.password = found->password;
        account.uid = "100";
        account.gid = "1";
        account.home = found->home.empty() ? home_ : found->home;
        return account;
    }
    std::string MakeHomePath(std::string_view sub, std::string_view name) override {
        std::string path = home_ + std::string(sub);
        FileUtil::ToBackslashes(path);
        FileUtil::AddTrailingSep(path);
        return path + std::string(name);
    }
    std::optional<std::string> GetPrivateKeyPem() override { return ReadWholeFile(keyFile_); }
    std::optional<std::string> GetCertificatePem() override { return ReadWholeFile(certFile_); }
    int CheckFxp(const std::string&, int, int) override { return refuseFxp_ ? 0 : 1; }
    bool GetKeyPassPhrase(std::string& out) override {
        out = pass_;
        return havePass_;
    }

  private:
    const TestAccount* Find(const std::string& user) const {
        for (const TestAccount& a : accounts_) {
            if (a.name == user) return &a;
        }
        return nullptr;
    }

    std::string home_, keyFile_, certFile_, pass_;
    bool havePass_;
    std::vector<TestAccount> accounts_;
    bool refuseFxp_;
};

void OnStopSignal(int) {
    Run().stopRequested = 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: base-site-server --port P --root DIR [--bind IP] [--cert FILE --key FILE "
                 "--pass PHRASE] [--implicit-port P] [--log-dir DIR] "
                 "[--account NAME:PASSWORD[:HOME]]... [--download-limit BPS] [--upload-limit BPS] "
                 "[--refuse-fxp 0|1] [--max-pending PER_ADDRESS:TOTAL] [--login-timeout S]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (name == "--port")
            o.port = value;
        else if (name == "--root")
            o.root = value;
        else if (name == "--bind")
            o.bind = value;
        else if (name == "--cert")
            o.certFile = value;
        else if (name == "--key")
            o.keyFile = value;
        else if (name == "--pass")
            o.passPhrase = value, o.havePass = true;
        else if (name == "--implicit-port")
            o.implicitPort = value;
        else if (name == "--log-dir")
            o.logDir = value;
        else if (name == "--download-limit")
            o.downloadLimit = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        else if (name == "--upload-limit")
            o.uploadLimit = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        else if (name == "--refuse-fxp")
            o.refuseFxp = value != "0";
        else if (name == "--login-timeout")
            o.logins.loginSeconds = std::atoi(value.c_str());
        else if (name == "--max-pending") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos) return false;
            o.logins.perAddress = std::atoi(value.substr(0, colon).c_str());
            o.logins.total = std::atoi(value.substr(colon + 1).c_str());
        } else if (name == "--account") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos) return false;
            const size_t second = value.find(':', colon + 1);
            TestAccount a{value.substr(0, colon), value.substr(colon + 1, second - colon - 1), ""};
            if (second != std::string::npos) a.home = value.substr(second + 1);
            o.accounts.push_back(a);
        } else
            return false;
    }
    return !o.port.empty() && !o.root.empty();
}

// Opens a listener and starts its thread; the port it listens on, or empty on failure.
std::string StartListener(const std::string& port, const Options& o, TestSite& site, bool ssl,
                          int& fd) {
    fd = SocketUtil::OpenListener(port, o.bind.empty() ? nullptr : o.bind.c_str());
    if (fd == -1) return {};
    std::string ip, realPort;
    SocketUtil::LocalAddress(fd, ip, realPort);
    ListenerArgs args;
    args.listenFd = fd;
    args.site = &site;
    args.makeSession = [&site](int sd) {
        return std::make_unique<FtpSession>(sd, site, nullptr, true);
    };
    std::atomic<int>& running = ssl ? Run().sslListenerRunning : Run().listenerRunning;
    const bool started = ThreadUtil::StartThread([args, ssl]() {
        if (ssl)
            RunSslListener(args);
        else
            RunPlainListener(args);
    });
    if (!started) {
        SocketUtil::Close(fd);
        return {};
    }
    // "ready" must mean that the listener is up, so that a stop right after it is seen.
    for (int i = 0; i < 200 && !running; ++i) Clock::SleepMs(10);
    return realPort;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) return Usage();
    if (!FileUtil::IsDirectory(InternalDir(o.root))) {
        std::fprintf(stderr, "base-site-server: %s is not a directory\n", o.root.c_str());
        return 1;
    }

    SocketUtil::Startup();
    SslLayer::InitLibrary();
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    auto site = std::make_unique<TestSite>(o);
    if (!o.logDir.empty()) {
        if (!site->SetProgramLogFile("ftpd.log", o.logDir) ||
            !site->SetAccessLogFile("%d%m%Y_access.log", o.logDir)) {
            std::fprintf(stderr, "base-site-server: bad log directory %s\n", o.logDir.c_str());
            return 1;
        }
    }

    int plainFd = -1, sslFd = -1;
    const std::string plain = StartListener(o.port, o, *site, false, plainFd);
    if (plain.empty()) {
        std::fprintf(stderr, "base-site-server: cannot listen on port %s\n", o.port.c_str());
        return 1;
    }
    std::printf("ready %s\n", plain.c_str());
    if (o.implicitPort) {
        const std::string ssl = StartListener(*o.implicitPort, o, *site, true, sslFd);
        if (ssl.empty()) {
            std::fprintf(stderr, "base-site-server: cannot listen on port %s\n",
                         o.implicitPort->c_str());
            Run().stopRequested = 1;
        } else {
            std::printf("ready-ssl %s\n", ssl.c_str());
        }
    }
    std::fflush(stdout);

    while (!Run().stopRequested) Clock::SleepMs(100);
    while (Run().listenerRunning || Run().sslListenerRunning) Clock::SleepMs(100);
    SocketUtil::Close(plainFd);
    if (sslFd != -1) SocketUtil::Close(sslFd);
    for (int i = 0; i < 60 && Run().liveClients > 0; ++i) Clock::SleepMs(100);
    site->FlushLogs();
    if (Run().liveClients > 0) {
        // A client thread still uses the site: leave without destroying it under the thread.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    site.reset();
    SslLayer::CleanupLibrary();
    SocketUtil::Shutdown();
    return 0;
}
