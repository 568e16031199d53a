#pragma once
// Unix-style listings of the disk under a session's root, for LIST, NLST and STAT.

#include <cstdint>
#include <functional>
#include <string>

#include "engine/FileUtil.h"

namespace orvex {

struct TransferJob;

// Buffers listing output in 4096-byte blocks in front of a writer (data or control connection).
class ListingOutput {
  public:
    using Writer = std::function<bool(const char*, size_t)>;
    explicit ListingOutput(Writer w) : writer_(std::move(w)) {}
    bool Append(const std::string& text);
    bool Flush();
    void Drop() { buffer_.clear(); }
    uint64_t Total() const { return total_; }
    bool Failed() const { return failed_; }

  private:
    Writer writer_;
    std::string buffer_;
    uint64_t total_ = 0;
    bool failed_ = false;
};

// Writes the listing the job asks for (options R and N) into `out`; false when it was cut short
// (aborted, or the output failed).
bool GenerateListing(const TransferJob& job, ListingOutput& out);

// The base listing line of a path with the owner and group names given; empty when the path
// cannot be read.
std::string BaseListingLine(const std::string& path, const std::string& currentYear,
                            const std::string& owner, const std::string& group);
// The same for a path whose status is known already.
std::string BaseListingLine(const std::string& path, const FileInfo& info,
                            const std::string& currentYear, const std::string& owner,
                            const std::string& group);

}  // namespace orvex
