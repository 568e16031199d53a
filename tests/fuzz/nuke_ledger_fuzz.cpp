// The nuke ledger on arbitrary text: amounts never negative, and what is written back reads as
// the same entries.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/site/files/NukeLedger.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<NukeEntry> kept;
    std::string written;
    for (const NukeEntry& e : ParseNukeLedger(text)) {
        if (e.share.credits < 0) abort();
        const std::string line = FormatNukeEntry(e);
        if (line.empty()) continue;
        kept.push_back(e);
        written += line;
    }
    const std::vector<NukeEntry> again = ParseNukeLedger(written);
    if (again.size() != kept.size()) abort();
    for (size_t i = 0; i < kept.size(); ++i) {
        if (again[i].directory != kept[i].directory || again[i].share.user != kept[i].share.user)
            abort();
    }
    return 0;
}
