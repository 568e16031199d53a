// vantor: a self-contained FTP server with users from the command line or one user file.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/Listener.h"
#include "engine/MetricsServer.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/SslLayer.h"
#include "engine/ThreadUtil.h"
#include "standalone/CommandLine.h"
#include "standalone/HelpPages.h"
#include "standalone/Signals.h"
#include "standalone/StandaloneSession.h"
#include "standalone/StandaloneSite.h"

namespace {

using namespace orvex;

constexpr uint32_t kReloadCheckMs = 2000;
constexpr uint32_t kStepMs = 100;

// Set by each listener thread when its loop has returned.
std::atomic<bool> plainEnded{true};
std::atomic<bool> sslEnded{true};

bool StartListenerThread(int fd, StandaloneSite& site, bool ssl) {
    ListenerArgs args;
    args.listenFd = fd;
    args.site = &site;
    args.makeSession = [&site](int sd) -> std::unique_ptr<FtpSession> {
        return std::make_unique<StandaloneSession>(sd, site, site.ResolveNames());
    };
    args.acceptWaitSeconds = 2;
    args.threadFailureText = "WARNING: unable to create a new client thread.";
    std::atomic<bool>& ended = ssl ? sslEnded : plainEnded;
    ended = false;
    const bool started = ThreadUtil::StartThread([args, ssl, &ended]() {
        if (ssl)
            RunSslListener(args);
        else
            RunPlainListener(args);
        ended = true;
    });
    if (!started) ended = true;
    return started;
}

void WaitUntil(const std::atomic<bool>& flag) {
    while (!flag) Clock::SleepMs(kStepMs);
}

void ApplySettings(StandaloneSite& site, const ServerSettings& s) {
    site.SetProgramLogLevel(s.level);
    site.SetAccessLogLevel(s.level);
    site.SetResolveNames(s.resolveNames);
    LoginLimits limits = site.Logins().Limits();
    limits.perAddress = s.pendingPerAddress;
    limits.total = s.pendingTotal;
    site.Logins().SetLimits(limits);
}

int Serve(StandaloneSite& site, CommandLine& options) {
    ApplySettings(site, options.Settings());
    site.LogProgram("MAIN", "Use \"vantor -h\" for help.  Exit using \"Ctrl-C\".");

    const ServerSettings s = options.Settings();
    const char* bind = s.bindIp.empty() ? nullptr : s.bindIp.c_str();
    if (bind)
        site.LogProgram("MAIN", "Starting server on %s:%s...", bind, s.port.c_str());
    else
        site.LogProgram("MAIN", "Starting server on port %s...", s.port.c_str());
    int plainFd = SocketUtil::OpenListener(s.port, bind);
    if (plainFd < 0) {
        const std::string why = SocketUtil::ErrorText(errno);
        site.LogProgram("MAIN", "ERROR: Unable to start the server (sd = %d): %s.", plainFd,
                        why.c_str());
        return 1;
    }
    if (StartListenerThread(plainFd, site, false)) {
        site.LogProgram("MAIN", "Listening for FTP connections on port %s.", s.port.c_str());
    } else {
        site.LogProgram("MAIN", "WARNING: unable to create the listening thread for port %s.",
                        s.port.c_str());
    }

    int sslFd = -1;
    const bool implicit = s.implicitPort != "0";
    if (implicit) {
        sslFd = SocketUtil::OpenListener(s.implicitPort, bind);
        if (sslFd < 0) {
            site.LogProgram("MAIN", "WARNING: unable to listen for SSL connections on port %s.",
                            s.implicitPort.c_str());
        } else if (StartListenerThread(sslFd, site, true)) {
            site.LogProgram("MAIN", "Listening for implicit SSL connections on port %s.",
                            s.implicitPort.c_str());
        } else {
            site.LogProgram("MAIN",
                            "WARNING: unable to create the SSL listening thread for port %s.",
                            s.implicitPort.c_str());
        }
    }

    if (s.metricsPort != 0) StartMetricsServer(site, s.metricsBind, s.metricsPort, "vantor");

    while (!Run().stopRequested) {
        for (uint32_t waited = 0; waited < kReloadCheckMs && !Run().stopRequested;
             waited += kStepMs)
            Clock::SleepMs(kStepMs);
        if (Run().stopRequested) break;
        // Taken before the reload, so that a hang-up arriving meanwhile is not lost.
        if (ReloadRequested().exchange(0)) {
            site.LogProgram("MAIN", "SIGHUP caught: refreshing server");
            options.Apply(false);
            ApplySettings(site, options.Settings());
            site.LogProgram("MAIN", "Done refreshing server");
        }
        site.FlushLogs();
    }

    WaitUntil(sslEnded);
    if (sslFd >= 0)
        site.LogProgram("MAIN", "SSL server stopped on port %s", s.implicitPort.c_str());
    WaitUntil(plainEnded);
    site.LogProgram("MAIN", "Server stopped on port %s", s.port.c_str());
    while (Run().metricsRunning) Clock::SleepMs(kStepMs);
    SocketUtil::Close(plainFd);
    SocketUtil::Close(sslFd);
    while (Run().liveClients > 0) Clock::SleepMs(kStepMs);
    site.LogProgram("MAIN", "Server shutting down.");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    InstallSignalHandlers();
    // The screen log is read line by line by whoever watches the console.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (argc > 1) {
        const char* first = argv[1];
        if (std::strncmp(first, "-h", 2) == 0) {
            PrintHelp(first[2], stdout, stdin);
            return 0;
        }
        if (std::strcmp(first, "-v") == 0 || std::strcmp(first, "-V") == 0) {
            PrintVersion(stdout);
            return 0;
        }
    }

    SocketUtil::Startup();
    SslLayer::InitLibrary();
    std::unique_ptr<StandaloneSite> site(new (std::nothrow) StandaloneSite());
    if (!site) {
        std::printf("ERROR: unable to allocate site information structure\n");
        return 1;
    }
    site->SetProgramLogLevel(2);

    CommandLine options(*site, std::vector<std::string>(argv + 1, argv + argc));
    int code = options.Apply(true);
    if (code < 0) code = Serve(*site, options);

    site->FlushLogs();
    site.reset();
    SslLayer::CleanupLibrary();
    SocketUtil::Shutdown();
    std::fflush(stdout);
    return code;
}
