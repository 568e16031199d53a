#pragma once
// Whole-file rewrites and one-line appends for every file the project writes in place, made so
// that a crash or a full disk never leaves a truncated file: a rewrite goes to a temporary file
// beside the target, is synced and then renamed over it.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Larger account files are refused rather than read into memory.
inline constexpr size_t kMaxAccountFileSize = 64u << 20;

// Synced writes are on disk when they return. Deferred ones are complete for every reader and
// survive the writer's crash, but reach the disk only with SyncWrittenFile (or whenever the system
// writes them back): for counters that change on every transfer.
enum class Durability { Synced, Deferred };

// `path` in internal or OS form. A replaced file keeps its permission bits; a new one gets
// `newFileMode` exactly when given, else what the umask leaves of 0666. With `replace` false an
// existing target is never touched and the write fails. `stillCurrent`, when given, is asked
// once the new text is safely on disk, just before it takes the target's place: false leaves the
// target alone and the write fails (another program changed it meanwhile).
bool WriteFileAtomically(std::string_view path, std::string_view text, bool replace = true,
                         std::optional<mode_t> newFileMode = std::nullopt,
                         const std::function<bool()>& stillCurrent = {},
                         Durability durability = Durability::Synced);

// Makes a deferred write of `path` durable: syncs the file and its folder.
bool SyncWrittenFile(std::string_view path);

// Appends `line` (a line feed is added when it has none), first ending a last line that lacks its
// line feed. A failed append is cut back off, so the file keeps its old contents.
bool AppendLine(std::string_view path, std::string_view line);

// Appends `record` with one write on a descriptor opened for appending, so that records of
// concurrent writers never interleave. For logs, which are appended to and never rewritten.
bool AppendRecord(std::string_view path, std::string_view record);

// Writes all of `data` to `fd`, going on after interrupted or partial writes.
bool WriteAll(int fd, std::string_view data);

// The whole file; none when it cannot be read, is no regular file or is larger than `limit`.
std::optional<std::string> ReadWholeFile(std::string_view path, size_t limit = kMaxAccountFileSize);

// A digest of a file's text, to tell whether a file read again is the one read before. Never
// stored: it may differ between builds.
uint64_t TextDigest(std::string_view text);

// Temporary files of the rewrites start with a dot, which no user or group name can.
bool IsTemporaryName(std::string_view fileName);

// Removes the temporary files of rewrites in `folder` whose writer no longer runs (a crash or a
// kill between writing and renaming left them). The number removed.
int RemoveStaleTemporaryFiles(std::string_view folder);

// Test seam: while set, rewrites stop once the temporary file is written and synced, leaving it
// where a crash would, and report failure.
void InterruptRewritesForTesting(bool on);

}  // namespace orvex
