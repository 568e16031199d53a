// What a pre script prints, relayed to the client: at most one final line, always the last, and
// a refusal always ends the reply.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/session/ExternalCommand.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);
    const ScriptVerdict v = RelayScriptOutput(output);
    for (size_t i = 0; i < v.lines.size(); ++i) {
        const RelayedLine& l = v.lines[i];
        if (l.text.find('\n') != std::string::npos || l.text.size() > 255) abort();
        if (l.mode == 0 && i + 1 != v.lines.size()) abort();
        if (l.mode != 2 && l.code.size() != 3) abort();
        if (l.mode == 0 && l.code[0] != '4' && l.code[0] != '5') abort();
    }
    const bool closed = !v.lines.empty() && v.lines.back().mode == 0;
    if (v.allow == closed) abort();
    return 0;
}
