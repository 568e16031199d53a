// orvex.fs lines on arbitrary text.
#include "tests/fuzz/fs_records.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckTable(data, size, RecordFormat::ParseDirectoryLine,
                     RecordFormat::FormatDirectoryLine, [](const DirectoryRecord& r) {
                         fuzz::CheckPath(r.path);
                         fuzz::CheckMode(r.permissions);
                         if (r.owner == 0 || r.group == 0) abort();
                     });
    return 0;
}
