#pragma once
// The one way this project starts other programs: posix_spawn with an argument vector, never a
// shell command line; standard input from /dev/null and no descriptor of ours handed on.

#include <string>
#include <vector>

namespace orvex {

// Runs argv[0] (looked up in PATH when it holds no slash) with `argv` and waits for it. Standard
// output goes to `output` (at most `outputLimit` bytes are kept) when given, else to /dev/null;
// standard error always to /dev/null. The program gets `environment` ("NAME=value" entries)
// when given, else ours, and a process group of its own with default signal handling: when it
// runs past `timeoutMs`, or its output is still open then, the whole group is killed, so nothing
// it started outlives the limit. The exit status, or -1 when it could not start, was killed or
// ran too long.
int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs,
               size_t outputLimit = 64 * 1024,
               const std::vector<std::string>* environment = nullptr);

// Starts `program` with `argv` in a session of its own, standard streams on /dev/null and default
// signal handling, and does not wait. True when the start worked.
bool StartDetached(const std::string& program, const std::vector<std::string>& argv);

}  // namespace orvex
