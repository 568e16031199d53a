#pragma once
// The file behind a table store: re-read only when its stamp changes, rewritten whole or appended
// to, with the new stamp recorded after each own write so the store never reloads it.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FileStamp.h"
#include "engine/KeyedList.h"
#include "engine/os/FileLock.h"
#include "server/accounts/AccountText.h"

namespace orvex {

class TableFile {
  public:
    // A new path makes the next refresh read the file.
    void SetPath(std::string path);
    const std::string& Path() const { return path_; }

    // Hands the file's text to `read` when it changed since the last read or write. A file that
    // cannot be examined or read is logged and fails, and neither the table nor the stamp changes,
    // so the next pass tries again. Before a change, `edit` is the file's lock: a lock that could
    // not be had is logged and fails too, so the change never lands on a table another program is
    // rewriting.
    bool Refresh(const std::function<void(const std::string&)>& read, const AccountLog& log,
                 const FileLock* edit = nullptr);

    bool Loaded() const { return loaded_; }    // some refresh has succeeded
    bool Current() const { return current_; }  // the last refresh succeeded

    bool Rewrite(std::string_view text);
    bool Append(std::string_view line);

  private:
    // After an own write of `text` (none: read the file back).
    void Restamp(std::optional<std::string_view> text);

    std::string path_;
    FileStamp stamp_;
    uint64_t digest_ = 0;
    bool loaded_ = false;
    bool current_ = false;
};

// The id of a new entry: one above every id in use, in the table or held elsewhere, and at least
// `first`; 0 when none is left. A deleted entry's id is never handed out while anything still
// refers to it.
template <class T>
int32_t NextFreeId(const KeyedList<T>& list, const std::vector<int32_t>& reserved, int32_t first) {
    int32_t maxId = 0;
    for (const auto& n : list) maxId = std::max(maxId, n.id);
    for (int32_t id : reserved) maxId = std::max(maxId, id);
    if (maxId == std::numeric_limits<int32_t>::max()) return 0;
    return std::max(maxId + 1, first);
}

}  // namespace orvex
