#pragma once
// A socket pair whose reading end holds the fuzz input, its writing end shut, so that the code
// under test reads it as a peer's stream up to its end.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

struct FedSocket {
    int fds[2] = {-1, -1};
    bool ok = false;

    FedSocket(const uint8_t* data, size_t size) {
        // Stay well inside the socket buffer so that the write never blocks.
        if (size > 32768 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
        ok = size == 0 || write(fds[1], data, size) == static_cast<ssize_t>(size);
        shutdown(fds[1], SHUT_WR);
    }
    ~FedSocket() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    FedSocket(const FedSocket&) = delete;
    FedSocket& operator=(const FedSocket&) = delete;
    int Reader() const { return fds[0]; }
};
