// The dupe log on arbitrary text.
#include "tests/fuzz/fs_records.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::CheckTable(data, size, RecordFormat::ParseDupeLine, RecordFormat::FormatDupeLine,
                     [](const DupeRecord& r) {
                         if (r.name.empty() || r.uploader == 0) abort();
                     });
    return 0;
}
