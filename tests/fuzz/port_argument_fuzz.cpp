// The PORT argument parser.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/commands/PortArgument.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string address;
    unsigned port = 0;
    if (!commands::ParsePortArgument(text, address, port)) return 0;
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(address.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) abort();
    if (a > 255 || b > 255 || c > 255 || d > 255 || port > 65535) abort();
    // What was accepted prints back to an argument that parses to the same address.
    const std::string again = std::to_string(a) + "," + std::to_string(b) + "," +
                              std::to_string(c) + "," + std::to_string(d) + "," +
                              std::to_string(port >> 8) + "," + std::to_string(port & 255);
    std::string address2;
    unsigned port2 = 0;
    if (!commands::ParsePortArgument(again, address2, port2) || address2 != address ||
        port2 != port)
        abort();
    return 0;
}
