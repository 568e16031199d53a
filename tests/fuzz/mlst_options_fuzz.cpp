// The OPTS MLST argument: only known facts, and the echo chooses them again.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/MachineListing.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string echo, echo2;
    const unsigned facts = MachineListing::ParseSelection(
        std::string(reinterpret_cast<const char*>(data), size), echo);
    if ((facts & ~unsigned{MachineListing::kAllFacts}) || echo.size() > 64 ||
        MachineListing::ParseSelection(echo, echo2) != facts || echo2 != echo)
        abort();
    return 0;
}
