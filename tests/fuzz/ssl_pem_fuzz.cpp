// Key and certificate files as the TLS layer reads them: the bytes before the first NUL are the
// key PEM, the rest the certificate PEM. The peer socket is closed, so even a valid pair ends at
// the handshake.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/SslLayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = orvex::SslLayer::InitLibrary();
    if (!ready) return 0;
    std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t cut = all.find('\0');
    std::string_view key = all.substr(0, cut);
    std::string_view cert =
        cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    close(fds[1]);
    orvex::SslHandle h;
    int reason = 0;
    if (orvex::SslLayer::AcceptControl(fds[0], key, "quosk", cert, h, reason)) {
        orvex::SslLayer::Free(h);
    }
    close(fds[0]);
    return 0;
}
