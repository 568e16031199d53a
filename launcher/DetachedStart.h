// Starting a program that outlives the launcher and shares nothing with it.
#pragma once

#include <string>
#include <vector>

namespace orvex::launcher {

// Starts `program` (looked up in PATH when it holds no slash) with `argv` in a session of
// its own, standard streams on /dev/null, no other descriptors and default signal handling.
// Does not wait; true when the start worked.
bool StartDetached(const std::string& program, const std::vector<std::string>& argv);

}  // namespace orvex::launcher
