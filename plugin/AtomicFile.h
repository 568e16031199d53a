// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace orvex::plugin {

enum class WriteMode { Replace, CreateOnly };

// Writes a temporary file in the target's folder, syncs it and moves it into place.
// A new file gets `newFileMode`; a replaced one keeps its mode. CreateOnly fails when the
// target exists.
bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t newFileMode,
                         WriteMode mode);

// The whole file, or nothing when it cannot be read or is larger than `limit` bytes.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t limit);

}  // namespace orvex::plugin
