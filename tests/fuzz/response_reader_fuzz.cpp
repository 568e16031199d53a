// Server responses as a remote server could send them, read back through ResponseReader.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/ReplyBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Stay well inside the socket buffer so that the write never blocks.
    if (size > 32768) return 0;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    if (size > 0 && write(fds[1], data, size) != static_cast<ssize_t>(size)) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    shutdown(fds[1], SHUT_WR);

    orvex::ControlChannel ch(fds[0]);
    orvex::ResponseReader rr(ch);
    rr.SetTimeout(1);
    size_t total = 0;
    for (;;) {
        std::string code;
        auto lines = rr.ReadResponse(code);
        if (lines.empty()) break;
        if (!code.empty() && code.size() != 3) abort();
        for (const auto& l : lines) {
            if (l.size() > 511 || l.find_first_of("\r\n") != std::string::npos) abort();
        }
        total += lines.size();
        if (total > size + 1) abort();  // every line consumes at least one byte
    }
    close(fds[0]);
    close(fds[1]);
    return 0;
}
