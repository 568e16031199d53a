// Directory names in braces, as SITE commands read them from client arguments.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Tokenizer.h"
#include "server/site/SiteBraced.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const Args args = Tokenizer().Split(line);
    for (size_t first = 0; first <= args.size(); ++first) {
        const BracedName b = ParseBraced(args, first);
        if (b.error < 0 || b.error > 2) abort();
        if (b.used > args.size() - std::min(first, args.size())) abort();
        if (b.error != 0) continue;
        // A name is never empty, ends in one separator and holds no closing brace when braced.
        if (b.name.size() < 2 || b.name.back() != '\\' || b.used == 0) abort();
        if (args[first][0] == '{' && b.name.find('}') != std::string::npos) abort();
    }
    return 0;
}
