#include "launcher/DetachedStart.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace orvex::launcher {
namespace {

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

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }

    bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
              AddCloseOthers(&actions);

    // Whatever the launcher was started with, ignored or blocked, is not handed on.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGCHLD,
                    SIGTSTP, SIGTTIN, SIGTTOU}) {
        sigaddset(&defaults, sig);
    }
    ok = ok &&
         posix_spawnattr_setflags(
             &attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
         posix_spawnattr_setsigmask(&attr, &none) == 0 &&
         posix_spawnattr_setsigdefault(&attr, &defaults) == 0;

    pid_t pid = -1;
    if (ok) ok = posix_spawnp(&pid, program.c_str(), &actions, &attr, args.data(), environ) == 0;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return ok;
}

}  // namespace orvex::launcher
