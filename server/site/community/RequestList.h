#pragma once
// The requests file of misc/: one "user;time;title" line per request, numbered from 1 in the
// order of the file. Adding and filling hold one lock of the site and the file's advisory lock,
// and a fill rewrites the file through a synced temporary file, so no request is lost to a
// concurrent change, an operator's edit or a crash.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ThreadUtil.h"

namespace orvex {

// Titles keep at most this many characters when read.
inline constexpr size_t kRequestTitleMax = 79;

struct RequestEntry {
    std::string user;
    uint64_t time = 0;  // seconds since 1970
    std::string title;
    bool operator==(const RequestEntry&) const = default;
};

// Every line with at least three fields (split at ";" and TAB, empty fields kept); the rest are
// skipped. A title holding ";" ends there.
std::vector<RequestEntry> ParseRequests(std::string_view text);
// A title the file holds as typed and other users may be shown: no field separator, no
// control bytes (escape sequences would reach their terminals).
bool IsStorableTitle(std::string_view title);
// The line of one request, with its line feed.
std::string FormatRequest(const RequestEntry& request);

class RequestFile {
  public:
    RequestFile(std::string path, Lock& lock) : path_(std::move(path)), lock_(lock) {}

    // Empty when the file is missing or unreadable.
    std::vector<RequestEntry> List() const;
    bool Add(const RequestEntry& request);

    enum class Fill { kFilled, kUnreadable, kNoSuchRequest, kNotMoved };
    // Takes request `number` off the list into `filled`; `log` records it first and, by
    // answering false, keeps it on the list.
    Fill Take(long number, RequestEntry& filled,
              const std::function<bool(const RequestEntry&)>& log);

  private:
    std::string path_;
    Lock& lock_;
};

}  // namespace orvex
