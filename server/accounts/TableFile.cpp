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
    if (loaded_ && now == stamp_) {
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
    read(*text);
    stamp_ = now;
    loaded_ = current_ = true;
    return true;
}

void TableFile::Restamp() {
    FileStamp now;
    if (ReadFileStamp(path_, now)) stamp_ = now;
}

bool TableFile::Rewrite(std::string_view text) {
    if (!WriteFileAtomically(path_, text)) return false;
    Restamp();
    return true;
}

bool TableFile::Append(std::string_view line) {
    if (!AppendLine(path_, line)) return false;
    Restamp();
    return true;
}

}  // namespace orvex
