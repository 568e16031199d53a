#include "server/fs/DupeLog.h"

#include <ctime>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/FsJournal.h"
#include "server/fs/RecordFormat.h"

namespace orvex {

namespace {

constexpr int64_t kDaySeconds = 86400;

int64_t Now(int64_t now) {
    return now != 0 ? now : Clock::NowSeconds();
}

std::string BaseOf(std::string_view path) {
    const size_t sep = path.rfind('\\');
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

}  // namespace

DupeLog::DupeLog(ServerSite& site, Lock& fileLock, FsJournal* journal)
    : site_(site), fileLock_(fileLock), journal_(journal) {}

std::string DupeLog::FilePath() const {
    return site_.MakeDataPath("logs/", "dupelog");
}

bool DupeLog::Ignored(std::string_view name) const {
    return site_.Config().IsIgnoredType(name);
}

void DupeLog::Erase(List::iterator it) {
    byName_.erase(StringUtil::Lowered(it->name));
    records_.erase(it);
}

bool DupeLog::Changed() const {
    LockGuard g(lock_);
    return changed_;
}

int DupeLog::Load() {
    const std::string path = FilePath();
    if (path.empty()) return 0;
    std::optional<std::string> text;
    {
        LockGuard f(fileLock_);
        text = ReadWholeFile(path);
    }
    if (!text) {
        site_.LogProgram("MAIN", "WARNING: unable to open file %s for reading.",
                         FileUtil::OsPath(path).c_str());
        return 0;
    }
    LockGuard g(lock_);
    RecordFormat::ForEachRecord(*text, [this](const RecordFormat::Fields& f) {
        std::optional<DupeRecord> r = RecordFormat::ParseDupeLine(f);
        if (!r) return;
        std::string key = StringUtil::Lowered(r->name);
        if (byName_.count(key)) return;
        records_.push_back(std::move(*r));
        byName_.emplace(std::move(key), std::prev(records_.end()));
    });
    return 1;
}

int DupeLog::Add(uint32_t uploader, std::string_view path, int64_t now) {
    if (path.empty() || site_.Config().GetDupeCheckDays() == 0) return 0;
    const std::string name = BaseOf(path);
    if (name.empty() || Ignored(name)) return 0;
    // A name the log file cannot hold would cut its line short or turn into a pattern later.
    if (!RecordFormat::IsStorableText(name)) return 0;
    const uint32_t time = static_cast<uint32_t>(Now(now));
    LockGuard g(lock_);
    std::string key = StringUtil::Lowered(name);
    auto found = byName_.find(key);
    if (found != byName_.end()) {
        found->second->uploader = uploader;
        found->second->time = time;
    } else {
        records_.push_back(DupeRecord{name, uploader, time});
        byName_.emplace(std::move(key), std::prev(records_.end()));
    }
    changed_ = true;
    if (journal_) journal_->Append('A', {name, std::to_string(uploader), std::to_string(time)});
    return 1;
}

std::optional<DupeRecord> DupeLog::Find(std::string_view path, int64_t now) {
    const int64_t days = site_.Config().GetDupeCheckDays();
    if (days == 0) return std::nullopt;
    const std::string name = BaseOf(path);
    if (name.empty() || Ignored(name)) return std::nullopt;
    LockGuard g(lock_);
    auto found = byName_.find(StringUtil::Lowered(name));
    if (found == byName_.end()) return std::nullopt;
    if (static_cast<int64_t>(found->second->time) < Now(now) - days * kDaySeconds)
        return std::nullopt;
    return *found->second;
}

std::optional<DupeRecord> DupeLog::Named(std::string_view name) const {
    LockGuard g(lock_);
    auto found = byName_.find(StringUtil::Lowered(name));
    if (found == byName_.end()) return std::nullopt;
    return *found->second;
}

int DupeLog::RemoveMatching(std::string_view path) {
    const std::string mask = BaseOf(path);
    LockGuard g(lock_);
    int removed = 0;
    for (auto it = records_.begin(); it != records_.end();) {
        auto next = std::next(it);
        if (StringUtil::WildcardMatch(mask, it->name)) {
            Erase(it);
            ++removed;
        }
        it = next;
    }
    if (removed > 0) {
        changed_ = true;
        if (journal_) journal_->Append('R', {mask});
    }
    return removed;
}

int DupeLog::RemoveName(std::string_view path) {
    const std::string name = BaseOf(path);
    LockGuard g(lock_);
    auto found = byName_.find(StringUtil::Lowered(name));
    if (found == byName_.end()) return 0;
    Erase(found->second);
    changed_ = true;
    if (journal_) journal_->Append('r', {name});
    return 1;
}

std::optional<int64_t> DupeLog::ParseDate(std::string_view d, bool endOfDay) {
    if (d.size() != 6) return std::nullopt;
    for (char c : d)
        if (c < '0' || c > '9') return std::nullopt;
    auto two = [d](size_t at) { return (d[at] - '0') * 10 + (d[at + 1] - '0'); };
    const int month = two(0), day = two(2), year = two(4);
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    struct tm parts {};
    parts.tm_year = (year <= 70 ? 2000 + year : 1900 + year) - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = endOfDay ? 23 : 0;
    parts.tm_min = endOfDay ? 59 : 0;
    parts.tm_sec = endOfDay ? 59 : 0;
    parts.tm_isdst = -1;
    const time_t t = mktime(&parts);
    if (t == static_cast<time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(t);
}

DupeSearch DupeLog::Search(const std::vector<std::string>& masks, std::string_view from,
                           std::string_view to, size_t maximum) {
    const int64_t lower = ParseDate(from, false).value_or(INT64_MIN);
    const int64_t upper = ParseDate(to, true).value_or(Clock::NowSeconds());
    auto matches = [&](const DupeRecord& r) {
        if (r.time < lower || r.time > upper) return false;
        for (const std::string& m : masks)
            if (StringUtil::WildcardMatch(m, r.name)) return true;
        return false;
    };
    DupeSearch out;
    LockGuard g(lock_);
    for (const DupeRecord& r : records_)
        if (matches(r)) ++out.matching;
    const size_t wanted = maximum > 0 && maximum < out.matching ? maximum : out.matching;
    for (auto it = records_.rbegin(); it != records_.rend() && out.records.size() < wanted; ++it)
        if (matches(*it)) out.records.push_back(*it);
    return out;
}

int DupeLog::Write(int64_t now, bool* failed) {
    if (failed) *failed = false;
    const std::string path = FilePath();
    const int64_t days = site_.Config().GetDupeCheckDays();
    const int64_t oldest = Now(now) - days * kDaySeconds;
    std::string text = RecordFormat::kDupeHeader;
    int lines = 0;
    {
        LockGuard g(lock_);
        if (!changed_ || path.empty()) return 0;
        for (const DupeRecord& r : records_) {
            if (days > 0 && static_cast<int64_t>(r.time) < oldest) continue;
            const std::string line = RecordFormat::FormatDupeLine(r);
            if (line.empty()) continue;
            text += line;
            ++lines;
        }
        changed_ = false;
    }
    bool written;
    {
        LockGuard f(fileLock_);
        written = WriteFileAtomically(path, text);
    }
    if (failed) *failed = !written;
    if (!written) {
        site_.LogProgram("MAIN", "WARNING: unable to write file %s.",
                         FileUtil::OsPath(path).c_str());
        LockGuard g(lock_);
        changed_ = true;
        return 0;
    }
    return lines;
}

void DupeLog::CollectUploaders(std::set<uint32_t>& ids) const {
    LockGuard g(lock_);
    for (const DupeRecord& r : records_) ids.insert(r.uploader);
}

}  // namespace orvex
