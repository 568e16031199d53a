#include "server/app/DataFile.h"

#include <cstdio>

#include "engine/FileUtil.h"

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

}  // namespace orvex
