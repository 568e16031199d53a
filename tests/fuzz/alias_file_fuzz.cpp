// The alias file on arbitrary text: every record read is one the file can hold again, and what
// is written reads back the same.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/remote/AliasFile.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<AliasRecord> records = AliasFile::Parse(text);
    for (const AliasRecord& r : records) {
        for (const std::string* path : {&r.directory, &r.localPath, &r.remotePath}) {
            if (path->empty() || path->size() > kAliasPathMax) abort();
            if (path->back() != (path == &r.remotePath ? '/' : '\\')) abort();
        }
        if (r.address.size() > kAliasTextMax || r.user.size() > kAliasTextMax ||
            r.password.size() > kAliasTextMax)
            abort();
        const std::string line = AliasFile::FormatLine(r);
        if (line.find('\n') != line.size() - 1) abort();
    }
    // Types other than D and G stay as read; the rest must survive a rewrite unchanged.
    std::vector<AliasRecord> storable;
    for (const AliasRecord& r : records)
        if (r.serverType == 'D' || r.serverType == 'G') storable.push_back(r);
    if (AliasFile::Parse(AliasFile::Format(storable)) != storable) abort();
    return 0;
}
