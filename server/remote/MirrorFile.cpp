#include "server/remote/MirrorFile.h"

#include <limits>
#include <optional>

#include "engine/StringUtil.h"
#include "server/accounts/AccountText.h"
#include "server/remote/AliasFile.h"

namespace orvex::MirrorFile {

namespace {

constexpr size_t kMinFields = 3;
constexpr char kSep = ';';

std::optional<MirrorEntry> ParseLine(std::string_view line) {
    const std::vector<std::string_view> f = AliasFile::SplitFields(line);
    if (f.size() < kMinFields || (!f[0].empty() && f[0][0] == '#')) return std::nullopt;
    const uint32_t id = AccountText::ReadUnsigned(f[0]);
    // Directories name groups by a positive 32-bit id; 0 means none.
    if (id == 0 || id > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return std::nullopt;
    if (f[1].empty()) return std::nullopt;
    MirrorEntry e;
    e.mirrorId = static_cast<int32_t>(id);
    e.alias = AliasFile::ReadPathField(f[1], AliasForm);
    e.weight = AccountText::ReadUnsigned(f[2]);
    e.defaultMirror = f.size() > 3 && AccountText::ReadUnsigned(f[3]) != 0 ? 1 : 0;
    return e;
}

}  // namespace

std::string AliasForm(std::string_view text) {
    if (text.find(kMirrorLocal) != std::string_view::npos) return std::string(text);
    return AliasFile::LocalForm(text);
}

bool IsLocal(std::string_view alias) {
    return StringUtil::EqualNoCase(alias, kMirrorLocal);
}

bool IsStorable(std::string_view alias) {
    return !alias.empty() && alias.size() <= kAliasPathMax && AliasFile::IsStorable(alias) &&
           AliasForm(alias) == alias;
}

std::vector<MirrorGroup> Parse(std::string_view text) {
    std::vector<MirrorGroup> groups;
    AccountText::ForEachLine(text, [&groups](std::string_view line, int) {
        std::optional<MirrorEntry> e = ParseLine(line);
        if (!e) return;
        MirrorGroup* group = nullptr;
        for (MirrorGroup& g : groups)
            if (g.mirrorId == e->mirrorId) group = &g;
        if (!group) group = &groups.emplace_back(MirrorGroup{e->mirrorId, {}});
        group->entries.push_back(std::move(*e));
    });
    return groups;
}

bool NormaliseMarks(std::vector<MirrorGroup>& groups) {
    bool changed = false;
    for (MirrorGroup& g : groups) {
        bool marked = false;
        for (MirrorEntry& e : g.entries) {
            if (e.defaultMirror == 0) continue;
            if (marked) {
                e.defaultMirror = 0;
                changed = true;
            }
            marked = true;
        }
        if (!marked && !g.entries.empty()) {
            g.entries.front().defaultMirror = 1;
            changed = true;
        }
    }
    return changed;
}

std::string Format(const std::vector<MirrorGroup>& groups) {
    std::string text = kHeader;
    for (const MirrorGroup& g : groups)
        for (const MirrorEntry& e : g.entries)
            text += StringUtil::Format("%lu%c%s%c%lu%c%lu\n",
                                       static_cast<unsigned long>(g.mirrorId), kSep,
                                       e.alias.c_str(), kSep, static_cast<unsigned long>(e.weight),
                                       kSep, static_cast<unsigned long>(e.defaultMirror));
    return text;
}

const MirrorEntry* PickWeighted(const std::vector<MirrorEntry>& entries, uint32_t r) {
    uint64_t sum = 0;
    for (const MirrorEntry& e : entries) sum += e.weight;
    if (sum == 0) return nullptr;
    const uint64_t at = r % sum;
    uint64_t running = 0;
    for (const MirrorEntry& e : entries) {
        running += e.weight;
        if (running > at) return &e;
    }
    return nullptr;
}

}  // namespace orvex::MirrorFile
