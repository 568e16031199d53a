#pragma once
// Re-reading a store's table file only when it changed. The stamp is taken before the read and
// is the caller's to remember only once the new text was read and accepted, so a file that could
// not be read or parsed is tried again on the next pass instead of being forgotten.

#include <optional>
#include <string>

#include "engine/FileStamp.h"

namespace orvex {

enum class DataFileRead { Missing, Unchanged, Unreadable, Read };

// `known` is the stamp of the table in memory, none before the first load. With Read, `text`
// holds the file and `stamp` its stamp.
DataFileRead ReadIfChanged(const std::string& path, const std::optional<FileStamp>& known,
                           FileStamp& stamp, std::string& text);

}  // namespace orvex
