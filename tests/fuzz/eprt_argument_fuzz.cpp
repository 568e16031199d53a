// The EPRT argument parser.

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/commands/PortArgument.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string address;
    unsigned port = 0;
    if (commands::ParseEprtArgument(text, address, port) != commands::EprtParse::kOk) return 0;
    if (port > 65535) abort();
    // What was accepted is a plain address of the family named, and prints back to an argument
    // that parses to the same address and port.
    unsigned char raw[16];
    const bool v6 = text[1] == '2';
    if (inet_pton(v6 ? AF_INET6 : AF_INET, address.c_str(), raw) != 1) abort();
    const std::string again =
        std::string("|") + (v6 ? "2" : "1") + "|" + address + "|" + std::to_string(port) + "|";
    std::string address2;
    unsigned port2 = 0;
    if (commands::ParseEprtArgument(again, address2, port2) != commands::EprtParse::kOk ||
        address2 != address || port2 != port)
        abort();
    return 0;
}
