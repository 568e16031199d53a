// User file parsing on arbitrary text: fields stay within their limits, and what is written reads
// back to the same record.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/accounts/UserFile.h"

using namespace orvex;

namespace {

bool Fits(const std::string& s, size_t max) {
    return s.size() <= max && s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

UserRecord Parse(std::string_view text, bool& ok) {
    UserRecord r = FreshUserRecord("fuzz", LocalHome{"127.0.0.1", 21});
    ok = ParseUserFile(text, "fuzz", r, [](const std::string& line) {
        if (line.empty()) abort();
    });
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    bool ok = false;
    const UserRecord r = Parse(text, ok);

    for (const std::string* s : {&r.comment, &r.tagline, &r.flags, &r.group, &r.startDir})
        if (!Fits(*s, kUserTextMax)) abort();
    if (!Fits(r.permissions, kUserPermissionsMax)) abort();
    for (const auto& m : r.ipMasks)
        if (!Fits(m, kUserTextMax)) abort();
    for (char c : r.permissions)
        if (c >= 'A' && c <= 'Z') abort();
    for (char c : r.flags)
        if (c >= 'a' && c <= 'z') abort();
    // The start-up directory stays below the home directory.
    if (!r.startDir.empty() && (r.startDir[0] == '\\' || r.startDir.back() != '\\')) abort();
    if (("\\" + r.startDir).find("\\..\\") != std::string::npos) abort();

    // A text cut at its limit may end in a space that the next read drops; from then on the
    // written form is stable.
    const std::string once = FormatUserFile(r);
    bool ok2 = false;
    const UserRecord r2 = Parse(once, ok2);
    if (!ok2) abort();
    const std::string twice = FormatUserFile(r2);
    bool ok3 = false;
    const UserRecord r3 = Parse(twice, ok3);
    if (!ok3 || FormatUserFile(r3) != twice) abort();
    if (r2.maxLogins != r.maxLogins || r2.stats != r.stats || r2.credits != r.credits ||
        r2.ipMasks != r.ipMasks || r2.permissions != r.permissions || r2.flags != r.flags)
        abort();
    return 0;
}
