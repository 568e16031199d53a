#pragma once
// Re-reading a store's table file only when it changed. The stamp is taken before the read and
// is the caller's to remember only once the new text was read and accepted, so a file that could
// not be read or parsed is tried again on the next pass instead of being forgotten.

#include <functional>
#include <optional>
#include <string>

#include "engine/FileStamp.h"

namespace orvex {

enum class DataFileRead { Missing, Unchanged, Unreadable, Read };

// `known` is the stamp of the table in memory, none before the first load. With Read, `text`
// holds the file and `stamp` its stamp.
DataFileRead ReadIfChanged(const std::string& path, const std::optional<FileStamp>& known,
                           FileStamp& stamp, std::string& text);

class FtpSite;

// What a store logs when its table file is missing or unreadable; each takes the path once.
struct TableFileMessages {
    const char* missing;
    const char* unreadable;
};

// The reload step every table store shares: re-reads `path` when it changed, hands the text to
// `accept`, and records the new stamp only when it was accepted. 1 success (also unchanged), 0
// failure with its warning logged.
int ReloadTableFile(FtpSite& site, const std::string& path, std::optional<FileStamp>& known,
                    const TableFileMessages& messages,
                    const std::function<bool(const std::string& text)>& accept);

}  // namespace orvex
