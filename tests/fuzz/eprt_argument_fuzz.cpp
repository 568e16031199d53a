// The EPRT argument parser: what it accepts is a plain address of the family named, and prints
// back to an argument that parses the same.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/commands/PortArgument.h"

using namespace orvex::commands;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string address, again;
    unsigned port = 0, port2 = 0;
    if (ParseEprtArgument(text, address, port) != EprtParse::kOk) return 0;
    unsigned char raw[16];
    const int family = text[1] == '2' ? AF_INET6 : AF_INET;
    if (port > 65535 || inet_pton(family, address.c_str(), raw) != 1) abort();
    const std::string printed =
        std::string("|") + text[1] + "|" + address + "|" + std::to_string(port) + "|";
    if (ParseEprtArgument(printed, again, port2) != EprtParse::kOk || again != address ||
        port2 != port)
        abort();
    return 0;
}
