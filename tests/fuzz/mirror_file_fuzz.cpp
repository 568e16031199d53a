// The mirror file on arbitrary text: every entry read is one the file can hold again, marks end
// one per group, and what is written reads back the same.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/remote/MirrorFile.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<MirrorGroup> groups = MirrorFile::Parse(text);
    for (const MirrorGroup& g : groups) {
        if (g.mirrorId <= 0 || g.entries.empty()) abort();
        for (const MirrorEntry& e : g.entries)
            if (e.mirrorId != g.mirrorId || !MirrorFile::IsStorable(e.alias)) abort();
    }
    MirrorFile::NormaliseMarks(groups);
    for (const MirrorGroup& g : groups) {
        int marks = 0;
        for (const MirrorEntry& e : g.entries) marks += e.defaultMirror;
        if (marks != 1) abort();
    }
    if (MirrorFile::NormaliseMarks(groups)) abort();
    if (MirrorFile::Parse(MirrorFile::Format(groups)) != groups) abort();
    for (const MirrorGroup& g : groups) {
        const MirrorEntry* e = MirrorFile::PickWeighted(g.entries, static_cast<uint32_t>(size));
        if (e && e->weight == 0) abort();
    }
    return 0;
}
