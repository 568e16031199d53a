#include "engine/os/ProcessRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace orvex {
namespace {

class FileActions {
  public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~FileActions() {
        if (ok_) posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

class SpawnAttributes {
  public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
    ~SpawnAttributes() {
        if (ok_) posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t* get() { return &attr_; }

  private:
    posix_spawnattr_t attr_;
    bool ok_ = false;
};

// Closes every descriptor above the standard streams in the child.
bool AddCloseOthers(posix_spawn_file_actions_t* actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    return posix_spawn_file_actions_addclosefrom_np(actions, 3) == 0;
#else
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return false;
    int own = dirfd(dir);
    bool ok = true;
    while (dirent* e = readdir(dir)) {
        int fd = std::atoi(e->d_name);
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9' && fd > 2 && fd != own) {
            ok = posix_spawn_file_actions_addclose(actions, fd) == 0 && ok;
        }
    }
    closedir(dir);
    return ok;
#endif
}

// Standard input and error on /dev/null; standard output on `outFd`, or /dev/null when it is -1.
bool AddStandardStreams(posix_spawn_file_actions_t* actions, int outFd) {
    bool ok = posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(actions, 2, "/dev/null", O_WRONLY, 0) == 0;
    if (outFd >= 0) return ok && posix_spawn_file_actions_adddup2(actions, outFd, 1) == 0;
    return ok && posix_spawn_file_actions_addopen(actions, 1, "/dev/null", O_WRONLY, 0) == 0;
}

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

int ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

// Waits for the child, the leader of its own process group, until the deadline, then kills the
// group. Until the leader is reaped its id cannot name another group. -1 unless it exited
// normally in time.
int Reap(pid_t pid, std::chrono::steady_clock::time_point start, int timeoutMs) {
    int status = 0;
    for (;;) {
        if (ElapsedMs(start) >= timeoutMs) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whatever the caller runs with, handlers, ignored or blocked signals, is not handed on.
bool AddDefaultSignals(posix_spawnattr_t* attr, short flags) {
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGCHLD,
                    SIGTSTP, SIGTTIN, SIGTTOU, SIGXFSZ}) {
        sigaddset(&defaults, sig);
    }
    return posix_spawnattr_setflags(attr, flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) ==
               0 &&
           posix_spawnattr_setsigmask(attr, &none) == 0 &&
           posix_spawnattr_setsigdefault(attr, &defaults) == 0;
}

// Reads the child's output until it closes its end or the deadline passes; keeps `limit` bytes
// and drains the rest so that a talkative child never blocks on a full pipe.
void Collect(int fd, std::string& output, size_t limit, std::chrono::steady_clock::time_point start,
             int timeoutMs) {
    output.clear();
    char chunk[4096];
    for (;;) {
        int left = timeoutMs - ElapsedMs(start);
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size_t room = limit - output.size();
        output.append(chunk, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
    }
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs,
               size_t outputLimit, const std::vector<std::string>* environment) {
    if (argv.empty()) return -1;
    std::vector<char*> args = ArgvPointers(argv);
    std::vector<char*> env;
    if (environment != nullptr) env = ArgvPointers(*environment);

    int pipeFds[2] = {-1, -1};
    if (output != nullptr && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;

    FileActions actions;
    SpawnAttributes attr;
    bool ok = actions.ok() && attr.ok() && AddStandardStreams(actions.get(), pipeFds[1]) &&
              AddCloseOthers(actions.get()) && posix_spawnattr_setpgroup(attr.get(), 0) == 0 &&
              AddDefaultSignals(attr.get(), POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    if (ok)
        ok = posix_spawnp(&pid, args[0], actions.get(), attr.get(), args.data(),
                          environment != nullptr ? env.data() : environ) == 0;
    if (output != nullptr) close(pipeFds[1]);
    if (!ok) {
        if (output != nullptr) close(pipeFds[0]);
        return -1;
    }

    auto start = std::chrono::steady_clock::now();
    if (output != nullptr) {
        Collect(pipeFds[0], *output, outputLimit, start, timeoutMs);
        close(pipeFds[0]);
    }
    return Reap(pid, start, timeoutMs);
}

bool StartDetached(const std::string& program, const std::vector<std::string>& argv) {
    std::vector<char*> args = ArgvPointers(argv);
    FileActions actions;
    SpawnAttributes attr;
    const bool ok = actions.ok() && attr.ok() && AddStandardStreams(actions.get(), -1) &&
                    AddCloseOthers(actions.get()) &&
                    AddDefaultSignals(attr.get(), POSIX_SPAWN_SETSID);

    pid_t pid = -1;
    return ok && posix_spawnp(&pid, program.c_str(), actions.get(), attr.get(), args.data(),
                              environ) == 0;
}

}  // namespace orvex
