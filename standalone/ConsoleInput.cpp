#include "standalone/ConsoleInput.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "engine/RunState.h"

namespace orvex::ConsoleInput {

namespace {

constexpr int kBackspace = 0x08;
constexpr int kDelete = 0x7f;

// Echo and line editing off for as long as it lives; the terminal is restored on every path.
class SilentTerminal {
  public:
    explicit SilentTerminal(int fd) : fd_(fd) {
        if (!isatty(fd_) || tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON));
        quiet.c_cc[VMIN] = 1;
        quiet.c_cc[VTIME] = 0;
        active_ = tcsetattr(fd_, TCSANOW, &quiet) == 0;
    }
    ~SilentTerminal() {
        if (active_) tcsetattr(fd_, TCSANOW, &saved_);
    }
    SilentTerminal(const SilentTerminal&) = delete;
    SilentTerminal& operator=(const SilentTerminal&) = delete;
    bool Active() const { return active_; }

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

int GetChar(FILE* in) {
    for (;;) {
        if (Run().stopRequested) return EOF;
        errno = 0;
        const int c = std::fgetc(in);
        if (c != EOF) return c;
        if (std::ferror(in) && errno == EINTR && !Run().stopRequested) {
            std::clearerr(in);
            continue;
        }
        return EOF;
    }
}

std::string ReadLine(FILE* in, size_t max) {
    std::string line;
    for (int c = GetChar(in); c != EOF && c != '\n'; c = GetChar(in)) {
        if (line.size() < max) line.push_back(static_cast<char>(c));
    }
    const size_t cr = line.find('\r');
    if (cr != std::string::npos) line.resize(cr);
    return line;
}

std::string ReadSecret(FILE* in, FILE* out, size_t max, const char* prompt) {
    std::string secret;
    {
        SilentTerminal silent(fileno(in));
        std::fputs(prompt, out);
        std::fflush(out);
        for (;;) {
            const int c = GetChar(in);
            if (c == EOF || c == '\n') break;
            if (c == '\r') {
                // CR LF from a file or a pipe is one end of line, not an empty next answer.
                if (!silent.Active() && !isatty(fileno(in))) {
                    const int next = GetChar(in);
                    if (next != '\n' && next != EOF) std::ungetc(next, in);
                }
                break;
            }
            if (c == kBackspace || c == kDelete) {
                if (!secret.empty()) secret.pop_back();
                continue;
            }
            if (secret.size() < max) secret.push_back(static_cast<char>(c));
        }
    }
    std::fputc('\n', out);
    std::fflush(out);
    return secret;
}

void WaitForEnter(FILE* in, FILE* out) {
    std::fputs("-- Press ENTER to continue --\n", out);
    std::fflush(out);
    GetChar(in);
    std::fflush(out);
}

}  // namespace orvex::ConsoleInput
