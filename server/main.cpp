// orvex: the main FTP server. No argument runs it as a service (in the foreground, status
// reports to the service manager); "-d" runs it in the console; "-v" prints the version.

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/RunState.h"
#include "server/app/ServerLifecycle.h"
#include "server/app/ServerSite.h"
#include "server/app/ServiceLayer.h"
#include "server/app/StopSignals.h"

namespace {

using namespace orvex;

constexpr size_t kExePathMax = 4096;

bool ChangeToProgramDirectory() {
    char buf[kExePathMax];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return false;
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    path.resize(slash == 0 ? 1 : slash);
    return chdir(path.c_str()) == 0;
}

// One key press, without waiting for Enter; only when someone sits at a terminal.
void WaitForKey() {
    if (!isatty(STDIN_FILENO)) return;
    termios saved{};
    const bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw) {
        termios t = saved;
        t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }
    char c;
    [[maybe_unused]] ssize_t got = read(STDIN_FILENO, &c, 1);
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

// Client threads that outlived the shutdown wait still use the site: leave without destructors.
[[noreturn]] void ExitLeavingClients(int code) {
    std::fflush(stdout);
    std::_Exit(code);
}

int RunServiceMode() {
    // The signal thread may deliver a stop until the very end of the process, so the layer and
    // its sink are never destroyed.
    StatusSink* sink = MakeEnvironmentSink().release();
    ServiceLayer* service = new ServiceLayer(*sink, Run().stopRequested);
    StopSignals::RouteToThread([service]() { service->Control(ServiceControl::Stop); });
    ServerOutcome outcome = ServerOutcome::Failed;
    const int code = service->RunService([&outcome]() {
        outcome = RunServer();
        return outcome != ServerOutcome::Failed;
    });
    if (outcome == ServerOutcome::ClientsRemain) ExitLeavingClients(code);
    return code;
}

int RunConsoleMode() {
    std::printf("Using debug mode.  Exit using \"Ctrl-C\".\n");
    const ServerOutcome outcome = RunServer();
    if (outcome == ServerOutcome::Failed) {
        std::printf("\nPress any key to continue...\n");
        std::fflush(stdout);
        WaitForKey();
    }
    if (outcome == ServerOutcome::ClientsRemain) ExitLeavingClients(0);
    // A failed start-up must not look like success to a script or a supervisor.
    return outcome == ServerOutcome::Failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The console log is read line by line by whoever watches it (a terminal or the journal).
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!ChangeToProgramDirectory()) {
        std::printf("ERROR: Unable to set the initial CWD for the application.\n");
        return argc < 2 ? 1 : 0;
    }
    // Before anything is reported ready: a stop that comes during start-up still runs the
    // orderly stop instead of ending the process.
    StopSignals::Install();
    if (argc < 2) return RunServiceMode();
    if (std::strcmp(argv[1], "-v") == 0) {
        std::printf("%s %s (%s)\n", kServerName, kServerVersion, kEngineVersion);
        return 0;
    }
    if (std::strcmp(argv[1], "-d") == 0) return RunConsoleMode();
    std::printf("%s: Unknown option", argv[1]);
    std::fflush(stdout);
    return 0;
}
