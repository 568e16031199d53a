// The OPTS MLST argument: the facts chosen and the text the reply repeats.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/MachineListing.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string echo;
    const unsigned facts = MachineListing::ParseSelection(text, echo);
    if (facts & ~unsigned{MachineListing::kAllFacts}) abort();
    // The echo names only known facts, each once: read again it chooses the same ones.
    if (echo.size() > 64 || echo.find_first_of(" \r\n") != std::string::npos) abort();
    std::string echo2;
    if (MachineListing::ParseSelection(echo, echo2) != facts || echo2 != echo) abort();
    return 0;
}
