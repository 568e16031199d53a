// The job thread: listing, send and receive jobs, their replies and accounting.

#include "engine/TransferJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <vector>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/Listing.h"
#include "engine/RunState.h"
#include "engine/StringUtil.h"
#include "engine/ThreadUtil.h"

namespace orvex {

namespace {

// Files move in large blocks; the block size cannot be seen from outside, because ASCII
// conversion carries its state from one block to the next.
constexpr size_t kBlock = 256 * 1024;
constexpr size_t kSendfileChunk = 1024 * 1024;
constexpr unsigned kMaxUniqueSuffix = 100000;

Args JobArgs(const TransferJob& job) {
    return Args{job.Verb(), job.argument};
}

void Reply(TransferJob& job, std::string_view text, std::string_view code, bool errorLog = false) {
    if (code != "150") ReleaseTransferSlot(job);
    job.session->RespondAs(job.user, JobArgs(job), text, code, errorLog);
}

uint32_t Rate(uint64_t bytes, uint32_t start, uint32_t end) {
    const double r = static_cast<double>(bytes) / Clock::ElapsedSeconds(start, end);
    return static_cast<uint32_t>(std::min(r, double(UINT32_MAX)));
}

// The statistics line ends every transfer: with 226 when all the data moved, else with 426, so
// that a client retries instead of keeping a short file.
void StatisticsReply(TransferJob& job, uint64_t bytes, uint32_t start, uint32_t end,
                     bool complete) {
    job.succeeded = complete;
    job.site->Stats().CountBytes(job.jobType != 'R', bytes);
    const double secs = Clock::ElapsedSeconds(start, end);
    const std::string text = StringUtil::FormatBounded(
        80, "[Bytes: %llu][Time: %.2f s][Speed: %.2f K/s]", static_cast<unsigned long long>(bytes),
        secs, static_cast<double>(bytes) / 1024.0 / secs);
    Reply(job, text.empty() ? std::string_view("Transfer complete.") : std::string_view(text),
          complete ? "226" : "426");
}

bool Stopping(const TransferJob& job) {
    return job.session->Aborted() || Run().stopRequested;
}

// What a file transfer moved, and whether that was all of it.
struct Moved {
    uint64_t bytes = 0;
    bool complete = false;
};

// Reads until the buffer is full or the file ends; -1 on a read error.
long ReadFull(int fd, char* buf, size_t len) {
    size_t got = 0;
    while (got < len) {
        const ssize_t n = read(fd, buf + got, len - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<long>(got);
}

bool WriteFull(int fd, const char* buf, size_t len) {
    while (len > 0) {
        const ssize_t n = write(fd, buf, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Empties a file. One that is empty already is left alone: on ext4 a truncation to 0 makes the
// close that follows wait until the new content is on disk, which holds up the final reply.
bool Empty(int fd) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_size == 0) return true;
    return ftruncate(fd, 0) == 0;
}

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

// Sends the file from the restart offset; complete once its end went out.
Moved SendFileData(TransferJob& job, DataConnection& dc, int fd) {
    Moved m;
    if (job.restartOffset > 0) lseek(fd, job.restartOffset, SEEK_SET);
    job.site->SetTransferRate(job.session->ConnectionNumber(), 0);
    dc.ResetMeters();
    if (job.type != 'A' && dc.Unlimited(job, false)) {
        while (!Stopping(job)) {
            const long n = dc.SendFromFile(job, fd, kSendfileChunk);
            if (n < 0) return m;
            if (n == 0) {
                m.complete = true;
                return m;
            }
            m.bytes += static_cast<uint64_t>(n);
        }
        return m;
    }
    std::vector<char> block(kBlock);
    std::string converted;
    char prev = 0;
    while (!Stopping(job)) {
        const long got = ReadFull(fd, block.data(), kBlock);
        if (got < 0) return m;
        const char* out = block.data();
        size_t outLen = static_cast<size_t>(got);
        if (job.type == 'A') {
            converted.clear();
            AppendCrlf(std::string_view(block.data(), outLen), prev, converted);
            out = converted.data();
            outLen = converted.size();
        }
        if (outLen > 0) {
            const long n = dc.SendLimited(job, out, outLen);
            if (n < 0 || static_cast<size_t>(n) != outLen) return m;
            m.bytes += outLen;
        }
        if (static_cast<size_t>(got) < kBlock) {
            m.complete = true;
            return m;
        }
    }
    return m;
}

// Receives into the file until the client ends the data; complete only at that clean end, not
// when stopped, idle too long or cut off. False when the file could not be written.
bool ReceiveFileData(TransferJob& job, DataConnection& dc, int fd, Moved& m) {
    job.site->SetTransferRate(job.session->ConnectionNumber(), 0);
    dc.ResetMeters();
    if (job.type != 'A' && dc.Unlimited(job, true)) {
        bool fileFailed = false;
        const int64_t n = dc.ReceiveToFile(job, fd, fileFailed);
        if (fileFailed) return false;
        m.bytes = n > 0 ? static_cast<uint64_t>(n) : 0;
        m.complete = n >= 0 && !dc.ReceiveFailed() && !dc.Stopped();
        return true;
    }
    std::vector<char> block(kBlock);
    std::string converted;
    char prev = 0;
    while (!Stopping(job)) {
        const size_t got = static_cast<size_t>(dc.ReceiveLimited(job, block.data(), kBlock));
        bool ok;
        if (job.type == 'A') {
            converted.clear();
            AppendCrlf(std::string_view(block.data(), got), prev, converted);
            ok = WriteFull(fd, converted.data(), converted.size());
        } else {
            ok = WriteFull(fd, block.data(), got);
        }
        if (!ok) return false;
        m.bytes += got;
        if (dc.ReceiveFailed() || dc.Stopped()) return true;
        if (got < kBlock) {
            m.complete = true;
            return true;
        }
    }
    return true;
}

void ListingJob(TransferJob& job, DataConnection& dc) {
    if (!dc.Open(job, "Opening ASCII mode data connection for directory listing.")) return;
    const uint32_t start = Clock::NowMs();
    ListingOutput out([&dc](const char* data, size_t len) { return dc.Write(data, len); });
    const bool complete = GenerateListing(job, out) && out.Flush();
    const uint32_t end = Clock::NowMs();
    dc.Close();
    job.session->SetLastActivity();
    StatisticsReply(job, out.Total(), start, end, complete);
}

constexpr const char* kBadRestart = "Requested action not taken: invalid REST parameter.";

void SendJob(TransferJob& job, DataConnection& dc) {
    FtpSite& site = *job.site;
    const uint32_t conn = job.session->ConnectionNumber();
    const std::string path = FileUtil::Resolve(job.root, job.cwd, job.argument);
    if (path.empty()) {
        Reply(job, "ERROR: out of memory.", "425", true);
        return;
    }
    FdCloser file;
    // Non-blocking open, so that a FIFO in the tree cannot hang the job; only plain files go.
    file.fd = FileUtil::OpenFd(path, O_RDONLY | O_NONBLOCK);
    if (file.fd < 0) {
        const std::string shown = FileUtil::Slashed(job.argument);
        Reply(job,
              StringUtil::FormatBounded(256, "%s: The system cannot find the file specified.",
                                        shown.c_str()),
              "425");
        return;
    }
    struct stat st {};
    if (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Reply(job, "The system cannot find the file specified.", "425");
        return;
    }
    fcntl(file.fd, F_SETFL, fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (job.restartOffset < 0 || static_cast<uint64_t>(job.restartOffset) > size) {
        Reply(job, kBadRestart, "554");
        return;
    }
    if (site.TakeCredits(path, conn, job.user, size, 0) == 0) {
        Reply(job, "Insufficient credits.", "550");
        return;
    }
    const char* mode = job.type == 'A' ? "ASCII" : "BINARY";
    const std::string text150 = StringUtil::FormatBounded(
        256, "Opening %s mode data connection for %s (%llu bytes).", mode,
        FileUtil::Slashed(job.argument).c_str(), static_cast<unsigned long long>(size));
    if (!dc.Open(job, text150)) {
        site.AddCredits(path, conn, job.user, size, 0);
        return;
    }
    dc.sendLimit = site.GetDownloadSpeedLimit(job.user);
    const uint32_t start = Clock::NowMs();
    Moved sent = SendFileData(job, dc, file.fd);
    // The part of a block that went out before the transfer stopped counts too.
    sent.bytes = std::max(sent.bytes, dc.BytesSent());
    const uint32_t end = Clock::NowMs();
    dc.Close();
    close(file.fd);
    file.fd = -1;
    site.SetTransferRate(conn, 0);
    job.session->SetLastActivity();
    // Only a complete download counts; any other is charged for what went out (an abort would
    // otherwise make nearly all of a file free) and the rest comes back.
    if (sent.complete)
        site.RecordDownload(conn, job.user, size, Rate(sent.bytes, start, end));
    else
        site.AddCredits(path, conn, job.user, size - std::min(sent.bytes, size), 0);
    StatisticsReply(job, sent.bytes, start, end, sent.complete);
}

// The receive target, opened for writing at the place the job asks for.
struct Target {
    int fd = -1;
    bool created = false;    // this job made the file
    bool badOffset = false;  // a restart offset the file does not reach
    bool truncate = false;   // empty it once the data connection is up (a failed STOR keeps it)
};

int OpenNew(const std::string& path) {
    // No final symbolic link: an upload must not write through a link.
    return FileUtil::OpenFd(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK);
}

int OpenExisting(const std::string& path, int extra = 0) {
    return FileUtil::OpenFd(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | extra);
}

// STOU picks a free name by exclusive creation and renames the job's argument to match; APPE
// writes at the end of the file; STOR after REST writes from the restart offset, which must lie
// within the file.
Target OpenTarget(TransferJob& job, std::string& path) {
    Target t;
    if (job.storeMode == 1) {
        t.fd = OpenNew(path);
        for (unsigned n = 1; t.fd < 0 && errno == EEXIST && n <= kMaxUniqueSuffix; ++n) {
            const std::string candidate = StringUtil::Format("%s.%u", path.c_str(), n);
            t.fd = OpenNew(candidate);
            if (t.fd >= 0) {
                path = candidate;
                job.argument = StringUtil::Format("%s.%u", job.argument.c_str(), n);
            }
        }
        t.created = t.fd >= 0;
        return t;
    }
    if (job.storeMode == 0 && job.restartOffset != 0) {
        t.fd = job.restartOffset > 0 ? OpenExisting(path) : -1;
        struct stat st {};
        if (t.fd < 0 || fstat(t.fd, &st) != 0 || job.restartOffset > st.st_size ||
            lseek(t.fd, job.restartOffset, SEEK_SET) < 0) {
            t.badOffset = t.fd >= 0 || errno == ENOENT || job.restartOffset < 0;
            if (t.fd >= 0) close(t.fd);
            t.fd = -1;
        }
        return t;
    }
    const int append = job.storeMode == 2 ? O_APPEND : 0;
    t.fd = OpenNew(path);
    t.created = t.fd >= 0;
    if (t.fd < 0 && errno == EEXIST) t.fd = OpenExisting(path, append);
    t.truncate = job.storeMode == 0 && !t.created;
    return t;
}

void ReceiveJob(TransferJob& job, DataConnection& dc) {
    FtpSite& site = *job.site;
    const uint32_t conn = job.session->ConnectionNumber();
    std::string path = FileUtil::Resolve(job.root, job.cwd, job.argument);
    if (path.empty()) {
        Reply(job, "ERROR: out of memory.", "425", true);
        return;
    }
    Target target = OpenTarget(job, path);
    FdCloser file;
    file.fd = target.fd;
    struct stat st {};
    if (file.fd >= 0 && (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(file.fd);
        file.fd = -1;
    }
    if (target.badOffset) {
        Reply(job, kBadRestart, "554");
        return;
    }
    const std::string shown = FileUtil::Slashed(job.argument);
    if (file.fd < 0) {
        Reply(job,
              StringUtil::FormatBounded(256, "%s: The system cannot write to the file specified.",
                                        shown.c_str()),
              "425");
        return;
    }
    fcntl(file.fd, F_SETFL, fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    const char* mode = job.type == 'A' ? "ASCII" : "BINARY";
    const std::string text150 = StringUtil::FormatBounded(
        256, "Opening %s mode data connection for %s.", mode, shown.c_str());
    // Nothing came when the connection fails: a file this job made would be an empty leftover,
    // gone before the client hears of the failure.
    const auto removeNew = [&] {
        if (target.created) FileUtil::RemoveFile(path);
    };
    if (!dc.Open(job, text150, removeNew)) return;
    const bool upload = !job.received;
    if (upload) site.RegisterNewEntry(path, job.user, 0);
    bool written = !target.truncate || Empty(file.fd);
    dc.receiveLimit = site.GetUploadSpeedLimit(job.user);
    const uint32_t start = Clock::NowMs();
    Moved received;
    if (written) written = ReceiveFileData(job, dc, file.fd, received);
    const uint32_t end = Clock::NowMs();
    dc.Close();
    if (close(file.fd) != 0) written = false;
    file.fd = -1;
    // A file this upload made and could not write (a full disk) is not left behind; the site
    // then drops its record too.
    if (upload && !written && target.created) FileUtil::RemoveFile(path);
    if (upload) site.RegisterNewEntry(path, job.user, -1);
    site.SetTransferRate(conn, 0);
    job.session->SetLastActivity();
    if (!upload && !job.received(path, written && !dc.ReceiveFailed() && received.complete) &&
        received.complete)
        written = false;
    if (!written) {
        // A file that could not be written is a failed upload, whatever arrived.
        Reply(job,
              StringUtil::FormatBounded(256, "%s: The system cannot write to the file specified.",
                                        shown.c_str()),
              "451", true);
        return;
    }
    if (dc.ReceiveFailed()) {
        // A connection that broke is not a complete upload: the client must not take the count
        // of what arrived for the whole file.
        Reply(job, "Connection closed; transfer aborted.", "426");
        return;
    }
    // What arrived stays on disk, but only a complete upload is accounted.
    if (received.complete && upload) {
        if (job.modifyTime != 0) FileUtil::SetTimes(path, job.modifyTime, job.modifyTime);
        site.RecordUpload(conn, job.user, received.bytes, Rate(received.bytes, start, end));
        site.AddCredits(path, conn, job.user, received.bytes, 1);
    }
    StatisticsReply(job, received.bytes, start, end, received.complete);
}

}  // namespace

TransferJob::~TransferJob() {
    if (dataListener >= 0) close(dataListener);
}

const char* TransferJob::Verb() const {
    if (jobType == 'L') return machine ? "MLSD" : "LIST";
    if (jobType == 'S') return "RETR";
    if (storeMode == 1) return "STOU";
    if (storeMode == 2) return "APPE";
    return "STOR";
}

void AppendCrlf(std::string_view in, char& prev, std::string& out) {
    out.reserve(out.size() + in.size() + in.size() / 8 + 2);
    size_t from = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\n') continue;
        const char before = i == 0 ? prev : in[i - 1];
        if (before == '\r') continue;
        out.append(in.substr(from, i - from));
        out += "\r\n";
        from = i + 1;
    }
    out.append(in.substr(from));
    if (!in.empty()) prev = in.back();
}

void ReleaseTransferSlot(TransferJob& job) {
    if (job.jobType == 'L' || job.slotReleased || !job.session) return;
    job.slotReleased = true;
    DecrementIfPositive(job.session->RunningTransfers());
}

void RunTransferJob(std::unique_ptr<TransferJob> job) {
    FtpSession* session = job->session;
    const bool fileJob = job->jobType != 'L';
    // A file job's guard: the session's teardown waits for it even after the transfer slot has
    // been handed back before the final reply.
    if (fileJob) ++session->RunningListings();
    Metrics& stats = job->site->Stats();
    ++stats.Transferring();
    {
        std::unique_ptr<DataConnection> dc(new (std::nothrow) DataConnection);
        if (!dc) {
            Reply(*job, "ERROR: out of memory.", "451", true);
        } else if (job->jobType == 'L') {
            ListingJob(*job, *dc);
        } else if (job->jobType == 'S') {
            SendJob(*job, *dc);
        } else if (job->jobType == 'R') {
            ReceiveJob(*job, *dc);
        } else {
            ReleaseTransferSlot(*job);
            session->RespondAs(job->user, Args{"XFER", "UNKNOWN"}, "ERROR: unknown command type.",
                               "501");
        }
    }
    ReleaseTransferSlot(*job);
    stats.CountTransfer(job->Verb(), job->succeeded);
    --stats.Transferring();
    job.reset();
    // The last touch of the session: once the counters reach 0 its client thread may free it.
    DecrementIfPositive(session->RunningListings());
}

bool StartTransferThread(std::unique_ptr<TransferJob> job) {
    if (!job) return false;
    TransferJob* raw = job.release();
    if (ThreadUtil::StartThread([raw] { RunTransferJob(std::unique_ptr<TransferJob>(raw)); }))
        return true;
    delete raw;
    return false;
}

}  // namespace orvex
