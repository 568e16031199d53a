// The invariants every filesystem table parser keeps on arbitrary text: fields within their
// limits, and a record that can be written reads back as the same record.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/fs/RecordFormat.h"

namespace orvex::fuzz {

template <typename Parse, typename Format, typename Check>
void CheckTable(const uint8_t* data, size_t size, Parse parse, Format format, Check check) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using Record = typename decltype(parse(RecordFormat::Fields{}))::value_type;
    std::vector<Record> records;
    RecordFormat::ForEachRecord(text, [&](const RecordFormat::Fields& f) {
        if (f.count > 0 &&
            f.at[0].find_first_of(std::string_view("\r\n#\0", 4)) != std::string_view::npos)
            abort();
        if (auto r = parse(f)) records.push_back(*r);
    });
    for (const Record& r : records) {
        check(r);
        const std::string line = format(r);
        if (line.empty()) continue;
        if (line.back() != '\n' || line.find('\n') != line.size() - 1) abort();
        int lines = 0;
        RecordFormat::ForEachRecord(line, [&](const RecordFormat::Fields& f) {
            auto again = parse(f);
            if (!again || !(format(*again) == line)) abort();
            ++lines;
        });
        if (lines != 1) abort();
    }
}

inline void CheckMode(const std::string& mode) {
    if (mode.size() > kModeMax) abort();
}

inline void CheckPath(const std::string& path) {
    if (path.empty() || path.back() != '\\' || path.find('/') != std::string::npos) abort();
}

}  // namespace orvex::fuzz
