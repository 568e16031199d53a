#include "server/fs/FsJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/FileUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"

namespace orvex {

namespace {

// A journal of a million changes of long paths still fits.
constexpr size_t kMaxJournal = size_t(1) << 31;

bool Exists(const std::string& osPath) {
    return ::access(osPath.c_str(), F_OK) == 0;
}

}  // namespace

FsJournal::FsJournal(ServerSite& site) : site_(site) {}

FsJournal::~FsJournal() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (flusher_.joinable()) flusher_.join();
    if (fd_ >= 0) {
        if (unflushed_) ::fdatasync(fd_);
        ::close(fd_);
    }
}

std::string FsJournal::JournalPath() const {
    return FileUtil::OsPath(site_.MakeRootPath("fs/", "orvex.journal"));
}

std::string FsJournal::FoldPath() const {
    return FileUtil::OsPath(site_.MakeRootPath("fs/", "orvex.journal.fold"));
}

void FsJournal::Warn(const JournalFormat::Read& read, const std::string& path) {
    for (int line : read.badLines)
        site_.LogProgram("MAIN", "WARNING: unreadable entry on line %d of %s ignored.", line,
                         path.c_str());
    if (read.tornTail)
        site_.LogProgram("MAIN", "WARNING: the last entry of %s was cut short and is ignored.",
                         path.c_str());
}

std::vector<JournalFormat::Entry> FsJournal::Recover(uint64_t tableDigest) {
    using JournalFormat::Entry;
    std::vector<Entry> out;
    uint64_t lastSeq = 0;
    // The last change in the fold file. Its seal is numbered after changes that went to the
    // fresh journal while the write-back ran, so only the changes tell what was copied there.
    uint64_t lastFolded = 0;
    const std::string foldPath = FoldPath();
    bool foldDone = false;
    if (const std::optional<std::string> text = ReadWholeFile(foldPath, kMaxJournal)) {
        JournalFormat::Read read = JournalFormat::ReadText(*text);
        Warn(read, foldPath);
        const std::vector<Entry>& all = read.entries;
        foldDone = !all.empty() && all.back().kind == 'C' &&
                   all.back().fields[0] == JournalFormat::DigestText(tableDigest);
        std::string kept = JournalFormat::kHeader;
        for (Entry& e : read.entries) {
            lastSeq = std::max(lastSeq, e.seq);
            if (e.kind != 'C') lastFolded = std::max(lastFolded, e.seq);
            if (foldDone || e.kind == 'C') continue;
            if (!read.badLines.empty() || read.tornTail)
                kept += JournalFormat::FormatLine(
                    e.seq, e.kind, std::vector<std::string_view>(e.fields.begin(), e.fields.end()));
            out.push_back(std::move(e));
        }
        // Later journals are appended to a fold file that stays: it must end in a whole line.
        if (!foldDone && (!read.badLines.empty() || read.tornTail))
            WriteFileAtomically(foldPath, kept);
    }
    const std::string path = JournalPath();
    if (const std::optional<std::string> text = ReadWholeFile(path, kMaxJournal)) {
        JournalFormat::Read read = JournalFormat::ReadText(*text);
        Warn(read, path);
        bool rewrite = !read.badLines.empty() || read.tornTail;
        const size_t first = out.size();
        for (Entry& e : read.entries) {
            // Already in the fold file: a crash came between the two steps of moving it there.
            if (e.seq <= lastFolded || e.kind == 'C') {
                rewrite = true;
                continue;
            }
            lastSeq = std::max(lastSeq, e.seq);
            out.push_back(std::move(e));
        }
        if (rewrite) {
            std::string kept = JournalFormat::kHeader;
            for (size_t i = first; i < out.size(); ++i)
                kept += JournalFormat::FormatLine(
                    out[i].seq, out[i].kind,
                    std::vector<std::string_view>(out[i].fields.begin(), out[i].fields.end()));
            WriteFileAtomically(path, kept);
        }
    }
    if (foldDone) ::unlink(foldPath.c_str());
    std::lock_guard<std::mutex> g(mutex_);
    nextSeq_ = lastSeq + 1;
    return out;
}

int FsJournal::OpenJournalLocked(bool truncate) {
    const std::string path = JournalPath();
    const bool fresh = truncate || !Exists(path);
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
    if (fd >= 0 && fresh) WriteAll(fd, JournalFormat::kHeader);
    return fd;
}

bool FsJournal::Open() {
    const JournalSync mode = site_.Config().GetJournalSync();
    std::lock_guard<std::mutex> g(mutex_);
    mode_ = mode;
    if (fd_ < 0) fd_ = OpenJournalLocked(false);
    if (fd_ < 0) {
        site_.LogProgram("MAIN", "WARNING: unable to open file %s for writing.",
                         JournalPath().c_str());
        return false;
    }
    if (!flusher_.joinable()) flusher_ = std::thread([this] { FlushEverySecond(); });
    return true;
}

void FsJournal::FlushEverySecond() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        wake_.wait_for(lock, std::chrono::seconds(1));
        if (stop_) break;
        lock.unlock();
        const JournalSync mode = site_.Config().GetJournalSync();
        lock.lock();
        mode_ = mode;
        if (!unflushed_ || fd_ < 0 || mode_ == JournalSync::Never) continue;
        // The disk wait happens outside the lock, so appends never wait for it.
        const int fd = ::dup(fd_);
        unflushed_ = false;
        if (fd < 0) continue;
        lock.unlock();
        ::fdatasync(fd);
        ::close(fd);
        lock.lock();
    }
}

void FsJournal::Append(char kind, const std::vector<std::string_view>& fields) {
    std::lock_guard<std::mutex> g(mutex_);
    if (fd_ < 0) return;
    const std::string line = JournalFormat::FormatLine(nextSeq_++, kind, fields);
    if (!WriteAll(fd_, line)) {
        if (!failedWrite_)
            site_.LogProgram("MAIN", "WARNING: unable to write file %s.", JournalPath().c_str());
        failedWrite_ = true;
        return;
    }
    failedWrite_ = false;
    if (mode_ == JournalSync::Always)
        ::fdatasync(fd_);
    else
        unflushed_ = true;
}

void FsJournal::SyncFolder() {
    const std::string dir = FileUtil::OsPath(site_.MakeRootPath("fs/"));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool FsJournal::BeginFold() {
    std::lock_guard<std::mutex> g(mutex_);
    if (fd_ < 0) return false;
    const std::string path = JournalPath();
    const std::string fold = FoldPath();
    ::close(fd_);
    fd_ = -1;
    unflushed_ = false;
    bool moved;
    if (!Exists(fold)) {
        moved = ::rename(path.c_str(), fold.c_str()) == 0;
    } else {
        // An earlier write-back did not finish: its changes and these are folded together.
        // Copied entries that are still in the journal after a crash are skipped by their
        // sequence numbers.
        const std::optional<std::string> text = ReadWholeFile(path, kMaxJournal);
        const int fd = ::open(fold.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        moved = text && fd >= 0 && WriteAll(fd, *text) && ::fdatasync(fd) == 0;
        if (fd >= 0) ::close(fd);
    }
    fd_ = OpenJournalLocked(moved);
    if (fd_ < 0)
        site_.LogProgram("MAIN", "WARNING: unable to open file %s for writing.", path.c_str());
    return moved;
}

bool FsJournal::SealFold(uint64_t digest) {
    const std::string fold = FoldPath();
    bool ok;
    {
        std::lock_guard<std::mutex> g(mutex_);
        const int fd = ::open(fold.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        const std::string line =
            JournalFormat::FormatLine(nextSeq_++, 'C', {JournalFormat::DigestText(digest)});
        ok = fd >= 0 && WriteAll(fd, line) && ::fdatasync(fd) == 0;
        if (fd >= 0) ::close(fd);
    }
    SyncFolder();
    return ok;
}

void FsJournal::EndFold() {
    ::unlink(FoldPath().c_str());
}

}  // namespace orvex
