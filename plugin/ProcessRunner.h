// Runs a helper program from an argument vector and waits for it, within a time limit.
#pragma once

#include <string>
#include <vector>

namespace orvex::plugin {

// Exit status of the program, or -1 when it could not start, was killed or ran too long.
// Standard output goes to `output` (at most 64 KiB) when given, else to /dev/null.
int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs);

}  // namespace orvex::plugin
