#include "server/app/DataFile.h"

#include <cstdio>

#include "engine/FileUtil.h"
#include "engine/FtpSite.h"

namespace orvex {

DataFileRead ReadIfChanged(const std::string& path, const std::optional<FileStamp>& known,
                           FileStamp& stamp, std::string& text) {
    if (path.empty() || !ReadFileStamp(path, stamp)) return DataFileRead::Missing;
    if (known && *known == stamp) return DataFileRead::Unchanged;
    UniqueFile f = FileUtil::OpenFile(path, "rb");
    if (!f) return DataFileRead::Unreadable;
    text.clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) text.append(buf, n);
    if (std::ferror(f.get())) return DataFileRead::Unreadable;
    return DataFileRead::Read;
}

int ReloadTableFile(FtpSite& site, const std::string& path, std::optional<FileStamp>& known,
                    const TableFileMessages& messages,
                    const std::function<bool(const std::string& text)>& accept) {
    if (path.empty()) return 0;
    FileStamp stamp;
    std::string text;
    switch (ReadIfChanged(path, known, stamp, text)) {
        case DataFileRead::Missing:
            site.LogProgram("MAIN", messages.missing, FileUtil::OsPath(path).c_str());
            return 0;
        case DataFileRead::Unchanged:
            return 1;
        case DataFileRead::Unreadable:
            site.LogProgram("MAIN", messages.unreadable, FileUtil::OsPath(path).c_str());
            return 0;
        case DataFileRead::Read:
            break;
    }
    if (!accept(text)) return 0;
    known = stamp;
    return 1;
}

}  // namespace orvex
