#include "server/app/ServerLifecycle.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/Listener.h"
#include "engine/MetricsServer.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/StringUtil.h"
#include "engine/ThreadUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SessionFactory.h"
#include "server/app/SiteConfig.h"
#include "server/app/StopSignals.h"
#include "server/certs/CertStore.h"
#include "server/fs/Filesystem.h"
#include "server/fs/LinksStore.h"
#include "server/remote/AliasStore.h"
#include "server/remote/MirrorStore.h"

namespace orvex {

namespace {

constexpr uint32_t kStepMs = 100;
// How often the counters that logins and transfers wrote, and the buffered log lines, reach
// the disk (a quiet site would otherwise keep its last lines from fail2ban and the operator).
constexpr uint32_t kCounterSyncMs = 1000;
constexpr int kClientWaitSteps = 60;
constexpr int kLogLevel = 6;

// One listening port and the thread that serves it.
struct ListenerSlot {
    int fd = -1;
    std::string port;  // as shown in the log
    std::atomic<bool> ended{true};
};

bool StartListener(ListenerSlot& slot, ServerSite& site, bool ssl) {
    ListenerArgs args;
    args.listenFd = slot.fd;
    args.site = &site;
    args.makeSession = [&site](int fd) { return MakeSession(fd, site); };
    slot.ended = false;
    ListenerSlot* s = &slot;
    const bool started = ThreadUtil::StartThread([args, ssl, s]() {
        if (ssl)
            RunSslListener(args);
        else
            RunPlainListener(args);
        s->ended = true;
    });
    if (!started) slot.ended = true;
    return started;
}

void WaitEnded(const ListenerSlot& slot) {
    while (!slot.ended) Clock::SleepMs(kStepMs);
}

// The port the socket really listens on, for a configured port of 0.
std::string BoundPort(int fd, const std::string& configured) {
    std::string ip, port;
    if (configured == "0" && SocketUtil::LocalAddress(fd, ip, port) && !port.empty()) return port;
    return configured;
}

int OpenPort(const std::string& port, const std::string& bindIp) {
    return SocketUtil::OpenListener(port, bindIp.empty() ? nullptr : bindIp.c_str());
}

class Lifecycle {
  public:
    explicit Lifecycle(ServerSite& site) : site_(site) {}
    bool OpenListeners();
    void Serve();
    void Stop();

  private:
    ServerSite& site_;
    ListenerSlot plain_, ssl_;
};

bool Lifecycle::OpenListeners() {
    SiteConfig& config = site_.Config();
    const std::string port = StringUtil::Format("%u", config.GetServerPort());
    const std::string sslPort = StringUtil::Format("%u", config.GetSslPort());
    const std::string bind = config.GetBindIp();
    if (!bind.empty())
        site_.LogProgram("MAIN", "Starting server on %s:%s...", bind.c_str(), port.c_str());
    else
        site_.LogProgram("MAIN", "Starting server on port %s...", port.c_str());
    plain_.fd = OpenPort(port, bind);
    if (plain_.fd < 0) {
        const std::string why = SocketUtil::ErrorText(errno);
        site_.LogProgram("MAIN", "ERROR: Unable to start the server (sd = %d): %s.", plain_.fd,
                         why.c_str());
        return false;
    }
    plain_.port = BoundPort(plain_.fd, port);
    if (StartListener(plain_, site_, false)) {
        site_.LogProgram("MAIN", "Listening for FTP connections on port %s.", plain_.port.c_str());
    } else {
        site_.LogProgram("MAIN", "WARNING: unable to create the listening thread for port %s.",
                         plain_.port.c_str());
    }

    if (const std::optional<SiteConfigRecord> r = config.Snapshot(); r && r->metricsPort != 0)
        StartMetricsServer(site_, r->metricsBind, r->metricsPort, kServerName);

    if (sslPort[0] == '0') return true;
    ssl_.port = sslPort;
    // Without key material nobody could complete a handshake: the port stays closed.
    if (!site_.GetPrivateKeyPem() || !site_.GetCertificatePem()) {
        site_.LogProgram("MAIN", "WARNING: unable to initialize the SSL information.");
        site_.LogProgram("MAIN", "WARNING: unable to listen for SSL connections on port %s.",
                         sslPort.c_str());
        return true;
    }
    ssl_.fd = OpenPort(sslPort, bind);
    if (ssl_.fd < 0) {
        site_.LogProgram("MAIN", "WARNING: unable to listen for SSL connections on port %s.",
                         sslPort.c_str());
        return true;
    }
    if (StartListener(ssl_, site_, true)) {
        site_.LogProgram("MAIN", "Listening for implicit SSL connections on port %s.",
                         sslPort.c_str());
    } else {
        site_.LogProgram("MAIN", "WARNING: unable to create the SSL listening thread for port %s.",
                         sslPort.c_str());
    }
    return true;
}

void Lifecycle::Serve() {
    while (!Run().stopRequested) {
        ReloadSite(site_);
        // Slept in short steps so that a stop is seen at once.
        for (uint32_t waited = 0; waited < kReloadIntervalMs && !Run().stopRequested;
             waited += kStepMs) {
            Clock::SleepMs(kStepMs);
            if ((waited + kStepMs) % kCounterSyncMs != 0) continue;
            site_.Users().FlushCounters();
            site_.FlushLogs();
        }
    }
}

void Lifecycle::Stop() {
    if (ssl_.fd >= 0) {
        WaitEnded(ssl_);
        site_.LogProgram("MAIN", "SSL server stopped on port %s", ssl_.port.c_str());
    }
    WaitEnded(plain_);
    site_.LogProgram("MAIN", "Server stopped on port %s", plain_.port.c_str());
    while (Run().metricsRunning) Clock::SleepMs(kStepMs);

    site_.LogProgram("MAIN", "Synchronizing the %s filesystem.", kServerName);
    Filesystem& files = site_.Files();
    for (int i = 0; i < kClientWaitSteps && files.Busy(); ++i) Clock::SleepMs(kStepMs);
    files.Sync();
    site_.LogProgram("MAIN", "Done synchronizing the %s filesystem.", kServerName);
    SocketUtil::Close(plain_.fd);
    SocketUtil::Close(ssl_.fd);
}

bool WaitForClients() {
    for (int i = 0; i < kClientWaitSteps && Run().liveClients > 0; ++i) Clock::SleepMs(kStepMs);
    return Run().liveClients <= 0;
}

// The working directory is the program's folder from the start (main).
const char* ConfigFile() {
    static const char* const chosen = [] {
        std::error_code error;
        return ConfigFileFor(std::filesystem::current_path(error).string());
    }();
    return chosen;
}

}  // namespace

const char* ConfigFileFor(std::string_view programDir) {
    return programDir == kPackagedProgramDir ? kPackagedConfigFile : kConfigFile;
}

bool LoadSite(ServerSite& site) {
    SiteConfig& config = site.Config();
    if (!config.Load(ConfigFile())) {
        site.LogProgram("MAIN", "ERROR: unable to load the site configuration file '%s'.",
                        ConfigFile());
        return false;
    }
    site.ConfigureStores();
    site.LogProgram("MAIN", "Initializing %s version %s (%s).", kServerName, kServerVersion,
                    kEngineVersion);
    // A writer killed between writing and renaming leaves its temporary file behind.
    for (const std::string& folder :
         {site.MakeRootPath("etc/"), site.MakeDataPath("users/"), site.MakeRootPath("fs/")}) {
        if (const int removed = RemoveStaleTemporaryFiles(folder))
            site.LogProgram("MAIN", "Removed %d unfinished temporary file(s) in '%s'.", removed,
                            folder.c_str());
    }
    auto fail = [&site](const char* message) {
        site.LogProgramLine("MAIN", message);
        return false;
    };
    if (!site.Users().LoadUsers()) return fail("ERROR: unable to load the user properties files.");
    if (!site.Accounts().LoadAccounts()) return fail("ERROR: unable to load the password file.");
    site.Accounts().LoadRemoteAccounts();
    if (!site.Groups().LoadGroups()) return fail("ERROR: unable to load the group file.");
    if (!site.Aliases().Load()) return fail("ERROR: unable to load the aliases file.");
    if (!site.Links().LoadLinks()) return fail("ERROR: unable to load the links file.");
    if (!site.Mirrors().Load()) return fail("ERROR: unable to load the mirrors file.");
    if (!site.Files().Load()) return fail("ERROR: unable to load the filesystem file.");
    site.Files().Check(true);
    if (!site.Certs().ReloadKeys())
        site.LogProgramLine("MAIN", "WARNING: unable to load SSL certificate and keys.");
    return true;
}

void ReloadSite(ServerSite& site) {
    SiteConfig& config = site.Config();
    config.Load(ConfigFile());
    site.ConfigureStores();
    site.Accounts().LoadAccounts();
    site.Accounts().LoadRemoteAccounts();
    site.Groups().LoadGroups();
    site.Aliases().Load();
    site.Links().LoadLinks();
    site.Mirrors().Load();
    site.Aliases().ReapIdleConnections();
    site.RunDailyPass();
    if (config.IsFsSyncDue()) site.Files().StartSync();
    site.Certs().ReloadKeys();
}

ServerOutcome RunServer() {
    StopSignals::Install();
    SocketUtil::Startup();
    SslLayer::InitLibrary();
    std::unique_ptr<ServerSite> site(new (std::nothrow) ServerSite());
    if (!site) {
        std::printf("ERROR: unable to allocate site information structure\n");
        return ServerOutcome::Failed;
    }
    site->SetProgramLogLevel(kLogLevel);
    site->SetAccessLogLevel(kLogLevel);

    auto failed = [&site]() {
        site->FlushLogs();
        site.reset();
        SslLayer::CleanupLibrary();
        SocketUtil::Shutdown();
        return ServerOutcome::Failed;
    };
    if (!LoadSite(*site)) return failed();
    Lifecycle life(*site);
    if (!life.OpenListeners()) return failed();
    life.Serve();
    life.Stop();

    const bool clientsGone = WaitForClients();
    site->Users().FlushCounters();
    site->LogProgram("MAIN", "Server shutting down.");
    site->FlushLogs();
    if (!clientsGone) {
        // Client threads still point into the site: it must outlive them.
        site.release();
        return ServerOutcome::ClientsRemain;
    }
    site.reset();
    SslLayer::CleanupLibrary();
    SocketUtil::Shutdown();
    return ServerOutcome::Stopped;
}

}  // namespace orvex
