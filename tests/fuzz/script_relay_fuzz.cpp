// What a pre script prints, relayed to the client: lines without line ends, and a final line
// with a 4xx or 5xx code exactly when the script refuses the command.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/site/core/ExternalCommand.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);
    const ScriptVerdict v = RelayScriptOutput(output);
    for (const std::string& line : v.lines)
        if (line.find('\n') != std::string::npos || line.size() > 255) abort();
    // A refusal has a 4xx or 5xx code and a final line; a command that may run has neither.
    if (v.allow != v.code.empty()) abort();
    if (!v.allow && (v.code.size() != 3 || (v.code[0] != '4' && v.code[0] != '5'))) abort();
    if (v.allow && !v.finalText.empty()) abort();
    return 0;
}
