#include "server/site/files/NukeLedger.h"

#include <algorithm>
#include <cstdlib>

#include "engine/StringUtil.h"
#include "engine/ThreadUtil.h"
#include "engine/Tokenizer.h"
#include "engine/os/AtomicFile.h"
#include "engine/os/FileLock.h"
#include "server/fs/RecordFormat.h"

namespace orvex {

namespace {

// One ledger per data path, and sessions of one process share it.
Lock& LedgerLock() {
    static Lock lock;
    return lock;
}

}  // namespace

std::vector<NukeEntry> ParseNukeLedger(std::string_view text) {
    std::vector<NukeEntry> out;
    const Tokenizer tokenizer;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const Args fields = tokenizer.Split(line, ';', true);
        if (fields.size() != 4 || fields[0].empty() || fields[1].empty()) continue;
        NukeEntry e;
        e.directory = fields[0];
        e.share.user = fields[1];
        e.share.credits = std::max<long long>(0, std::strtoll(fields[2].c_str(), nullptr, 10));
        e.share.megabytes = std::strtoull(fields[3].c_str(), nullptr, 10);
        out.push_back(std::move(e));
    }
    return out;
}

std::string FormatNukeEntry(const NukeEntry& e) {
    if (!RecordFormat::IsStorableText(e.directory) || !RecordFormat::IsStorableText(e.share.user))
        return {};
    return StringUtil::Format("%s;%s;%lld;%llu\n", e.directory.c_str(), e.share.user.c_str(),
                              static_cast<long long>(e.share.credits),
                              static_cast<unsigned long long>(e.share.megabytes));
}

bool NukeLedger::Add(const std::string& directory, const std::vector<NukeShare>& shares) {
    if (path_.empty()) return false;
    std::string lines;
    for (const NukeShare& share : shares) lines += FormatNukeEntry({directory, share});
    if (lines.empty()) return true;
    LockGuard g(LedgerLock());
    const FileLock edit(path_);
    return !edit.Blocked() && AppendLine(path_, lines);
}

std::vector<NukeShare> NukeLedger::Take(const std::string& directory) {
    std::vector<NukeShare> taken;
    if (path_.empty()) return taken;
    LockGuard g(LedgerLock());
    const FileLock edit(path_);
    const std::optional<std::string> text = edit.Blocked() ? std::nullopt : ReadWholeFile(path_);
    if (!text) return taken;
    std::string rest;
    for (NukeEntry& e : ParseNukeLedger(*text)) {
        if (StringUtil::EqualNoCase(e.directory, directory))
            taken.push_back(std::move(e.share));
        else
            rest += FormatNukeEntry(e);
    }
    // Given back only once: a ledger that cannot be rewritten gives nothing.
    if (taken.empty() || !WriteFileAtomically(path_, rest)) return {};
    return taken;
}

}  // namespace orvex
