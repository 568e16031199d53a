// Passive replies of remote servers: only whole byte-sized addresses are taken.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/remote/RemoteConnection.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<PassiveAddress> a = ParsePassiveReply(text);
    if (!a) return 0;
    unsigned b[4];
    char tail;
    if (std::sscanf(a->ip.c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &tail) != 4)
        abort();
    for (unsigned v : b)
        if (v > 255) abort();
    if (a->port > 65535) abort();
    return 0;
}
