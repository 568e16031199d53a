// The links file on arbitrary text.
#include "tests/fuzz/fs_records.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckTable(data, size, RecordFormat::ParseLinkLine, RecordFormat::FormatLinkLine,
                     [](const DirectoryLink& r) {
                         fuzz::CheckPath(r.linkDir);
                         fuzz::CheckPath(r.realDir);
                         if (r.linkDir.size() > kLinkPathMax || r.realDir.size() > kLinkPathMax)
                             abort();
                     });
    return 0;
}
