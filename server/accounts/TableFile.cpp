#include "server/accounts/TableFile.h"

#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"

namespace orvex {

void TableFile::SetPath(std::string path) {
    if (path != path_) stamp_ = {};
    path_ = std::move(path);
}

bool TableFile::Refresh(const std::function<void(const std::string&)>& read, const AccountLog& log,
                        const FileLock* edit) {
    if (edit && edit->Blocked()) {
        if (log) log(StringUtil::Format("WARNING: unable to lock file %s.", path_.c_str()));
        return false;
    }
    FileStamp now;
    if (!ReadFileStamp(path_, now)) {
        if (log) log(StringUtil::Format("WARNING: unable to access file %s.", path_.c_str()));
        current_ = false;
        return false;
    }
    // Before a change the text itself is compared: two writes within one tick of the file
    // system's clock can leave the same stamp.
    if (loaded_ && now == stamp_ && !edit) {
        current_ = true;
        return true;
    }
    const std::optional<std::string> text = ReadWholeFile(path_);
    if (!text) {
        if (log)
            log(StringUtil::Format("WARNING: unable to open file %s for reading.", path_.c_str()));
        current_ = false;
        return false;
    }
    const uint64_t digest = TextDigest(*text);
    // The same text keeps the table, and with it a change whose rewrite failed.
    if (!loaded_ || digest != digest_) read(*text);
    stamp_ = now;
    digest_ = digest;
    loaded_ = current_ = true;
    return true;
}

void TableFile::Restamp(std::optional<std::string_view> text) {
    FileStamp now;
    if (ReadFileStamp(path_, now)) stamp_ = now;
    if (text) {
        digest_ = TextDigest(*text);
    } else if (const std::optional<std::string> written = ReadWholeFile(path_)) {
        digest_ = TextDigest(*written);
    }
}

bool TableFile::Rewrite(std::string_view text) {
    if (!WriteFileAtomically(path_, text)) return false;
    Restamp(text);
    return true;
}

bool TableFile::Append(std::string_view line) {
    if (!AppendLine(path_, line)) return false;
    Restamp(std::nullopt);
    return true;
}

}  // namespace orvex
