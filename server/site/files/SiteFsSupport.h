#pragma once
// What the SITE commands on the site tree share: paths translated as the session translates
// them, how replies show them, patterns in a last component, braced names, and the records
// made to hold a setting of an entry that had none.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Tokenizer.h"
#include "server/fs/FsRecords.h"
#include "server/site/SiteBraced.h"

namespace orvex {
class SiteSession;
}

namespace orvex::site {

// A typed path through the directory links and then against the engine view; `root` is the
// engine root it was resolved under.
struct FsPath {
    std::string full;
    std::string root;
};
// None after "ERROR: unable to set directory path." with 450.
std::optional<FsPath> TranslatePath(SiteSession& s, const Args& args, const std::string& typed);

// The typed path of a command that removes what it names: translated, with a trailing
// separator; none after refusing the engine root with "Cannot delete the root directory." (501).
std::optional<FsPath> TranslateRemovable(SiteSession& s, const Args& args,
                                         const std::string& typed);

// The refusal of a path that is no directory: "%s: No such file or directory." when `kind` (as
// FileUtil::Kind answers) is 0, "%s: Not a directory." otherwise.
std::string NoDirectory(int kind, const std::string& shown);

// A typed path as replies show it: slashes, without a trailing separator.
std::string Shown(std::string_view typed);

// A braced name read from args[first]; false after answering error 1 with `noName` (501) or
// error 2 with `noBrace` (502).
bool ReadBraced(SiteSession& s, const Args& args, size_t first, const char* noName,
                const char* noBrace, BracedName& out);

// Whether typed text holds "*". Only then is the last component of its path a pattern.
bool HasPattern(std::string_view text);
// The entries `path` names: with `pattern`, every entry of its directory whose name matches its
// last component; otherwise the path itself when it exists. Directories end in '\'. A symbolic
// link is never one of them: it belongs to no site tree.
std::vector<std::string> Expand(const std::string& path, bool pattern);

// `full` (a directory path with its trailing separator) split into its parent and name.
struct ParentAndName {
    std::string parent;  // ends in '\'
    std::string name;
};
std::optional<ParentAndName> SplitDirectory(std::string_view full);

// The owner and group ids of what the session's user creates; false when the user has none.
bool CallerIds(SiteSession& s, uint32_t& uid, uint32_t& gid);

// The record of a directory or a file, made first when there is none: owned by the caller and
// keeping the mode the entry had without one, so that holding a setting opens nothing. None
// when no record can be made.
std::optional<DirectoryRecord> DirectoryRecordFor(SiteSession& s, const std::string& dir);
std::optional<FileRecord> FileRecordFor(SiteSession& s, const std::string& file);

}  // namespace orvex::site
