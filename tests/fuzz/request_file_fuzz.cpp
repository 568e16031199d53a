// The requests file on arbitrary text: titles and fields keep their limits, and what is written
// back reads as the same requests.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/site/community/RequestList.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<RequestEntry> read = ParseRequests(text);
    std::string written;
    for (const RequestEntry& r : read) {
        if (r.title.size() > kRequestTitleMax) abort();
        for (const std::string* field : {&r.user, &r.title})
            if (field->find_first_of(std::string(";\t\n\0", 4)) != std::string::npos) abort();
        if (r.title.find('\r') != std::string::npos) abort();
        const std::string line = FormatRequest(r);
        // A line longer than a read takes is cut there; the rest hold their requests.
        if (line.size() >= 1024) return 0;
        written += line;
    }
    if (ParseRequests(written) != read) abort();
    return 0;
}
