// Command-line splitting and joining on arbitrary bytes.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Tokenizer.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the separator, the line size and the keep-empty flag.
    const char sep = (data[0] & 1) ? ';' : ' ';
    const bool keepEmpty = (data[0] & 2) != 0;
    const size_t lineSize = (data[0] & 4) ? 1024 : 1 + data[0] % 32;
    const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

    const Tokenizer tok(lineSize);
    const Args args = tok.Split(line, sep, keepEmpty);
    size_t total = 0;
    for (const auto& a : args) {
        total += a.size();
        for (char c : a)
            if (c == sep || c == '\t' || c == '\0') abort();
        if (!keepEmpty && a.empty()) abort();
    }
    // Nothing beyond the cut line can appear in the arguments.
    if (total > lineSize - 1) abort();
    if (keepEmpty && !args.empty() && total + args.size() - 1 > lineSize - 1) abort();

    const std::string joined = Join(args, 0, 0);
    if (sep == ' ' && !keepEmpty) {
        // Re-splitting a join gives the same arguments back.
        if (Tokenizer(joined.size() + 2).Split(joined) != args) abort();
    }
    if (joined.size() > total + (args.empty() ? 0 : args.size() - 1)) abort();
    return 0;
}
