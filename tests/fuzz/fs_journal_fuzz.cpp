// The filesystem journal on arbitrary text: every entry read has the field count of its kind and
// writes back as a line that reads as the same entry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/fs/JournalFormat.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const JournalFormat::Read read = JournalFormat::ReadText(text);
    for (const JournalFormat::Entry& e : read.entries) {
        if (e.fields.size() != JournalFormat::FieldCount(e.kind)) abort();
        const std::string line = JournalFormat::FormatLine(
            e.seq, e.kind, std::vector<std::string_view>(e.fields.begin(), e.fields.end()));
        if (line.back() != '\n' || line.find('\n') != line.size() - 1) abort();
        const auto again =
            JournalFormat::ParseLine(std::string_view(line).substr(0, line.size() - 1));
        if (!again || !(*again == e)) abort();
    }
    return 0;
}
