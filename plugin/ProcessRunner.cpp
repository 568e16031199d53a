#include "plugin/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace orvex::plugin {
namespace {

constexpr size_t kMaxOutput = 64 * 1024;

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

int ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

// Waits for the child until the deadline, then kills it. -1 unless it exited normally.
int Reap(pid_t pid, std::chrono::steady_clock::time_point start, int timeoutMs) {
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
        if (ElapsedMs(start) >= timeoutMs) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output != nullptr && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;

    FileActions actions;
    bool ok = actions.ok() &&
              posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) == 0 &&
              posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) == 0;
    if (ok && output != nullptr) {
        ok = posix_spawn_file_actions_adddup2(actions.get(), pipeFds[1], 1) == 0;
    } else if (ok) {
        ok = posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0) == 0;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // The installer's own descriptors are none of the helper's business.
    if (ok) ok = posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) == 0;
#endif
    pid_t pid = -1;
    if (ok) {
        ok = posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ) == 0;
    }
    if (output != nullptr) close(pipeFds[1]);
    if (!ok) {
        if (output != nullptr) close(pipeFds[0]);
        return -1;
    }

    auto start = std::chrono::steady_clock::now();
    if (output != nullptr) {
        output->clear();
        char chunk[4096];
        for (;;) {
            int left = timeoutMs - ElapsedMs(start);
            if (left <= 0) break;
            pollfd p{pipeFds[0], POLLIN, 0};
            int r = poll(&p, 1, left);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            ssize_t n = read(pipeFds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            size_t room = kMaxOutput - output->size();
            output->append(chunk, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
        }
        close(pipeFds[0]);
    }
    return Reap(pid, start, timeoutMs);
}

}  // namespace orvex::plugin
