// Per-directory file lists on arbitrary text.
#include "tests/fuzz/fs_records.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckTable(data, size, RecordFormat::ParseFileLine, RecordFormat::FormatFileLine,
                     [](const FileRecord& r) {
                         fuzz::CheckMode(r.permissions);
                         if (r.name.empty() || r.owner == 0 || r.group == 0) abort();
                     });
    return 0;
}
