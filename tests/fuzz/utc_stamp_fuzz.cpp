// The time of MFMT and MDTM: what is taken is shown again as the same fourteen digits.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/MachineListing.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int64_t time = 0;
    if (!MachineListing::ParseUtcStamp(text, time)) return 0;
    if (text.size() < 14 || MachineListing::UtcStamp(time) != text.substr(0, 14)) abort();
    return 0;
}
