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

void StatisticsReply(TransferJob& job, uint64_t bytes, uint32_t start, uint32_t end) {
    const double secs = Clock::ElapsedSeconds(start, end);
    const std::string text = StringUtil::FormatBounded(
        80, "[Bytes: %llu][Time: %.2f s][Speed: %.2f K/s]", static_cast<unsigned long long>(bytes),
        secs, static_cast<double>(bytes) / 1024.0 / secs);
    Reply(job, text.empty() ? std::string_view("Transfer complete.") : std::string_view(text),
          "226");
}

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

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

// Bytes sent; 0 when a write failed or the abort flag stopped the loop.
uint64_t SendFileData(TransferJob& job, DataConnection& dc, int fd) {
    if (job.restartOffset > 0) lseek(fd, job.restartOffset, SEEK_SET);
    job.site->SetTransferRate(job.session->ConnectionNumber(), 0);
    dc.ResetMeters();
    uint64_t total = 0;
    if (job.type != 'A' && dc.Unlimited(job, false)) {
        while (!job.session->Aborted()) {
            const long n = dc.SendFromFile(job, fd, kSendfileChunk);
            if (n < 0) return 0;
            if (n == 0) return total;
            total += static_cast<uint64_t>(n);
        }
        return 0;
    }
    std::vector<char> block(kBlock);
    std::string converted;
    char prev = 0;
    while (!job.session->Aborted()) {
        const long got = ReadFull(fd, block.data(), kBlock);
        if (got < 0) return 0;
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
            if (n < 0 || static_cast<size_t>(n) != outLen) return 0;
            total += outLen;
        }
        if (static_cast<size_t>(got) < kBlock) return total;
    }
    return 0;
}

// Bytes received (0 when aborted, idle too long or the connection failed); false when the file
// could not be written.
bool ReceiveFileData(TransferJob& job, DataConnection& dc, int fd, uint64_t& total) {
    total = 0;
    job.site->SetTransferRate(job.session->ConnectionNumber(), 0);
    dc.ResetMeters();
    if (job.type != 'A' && dc.Unlimited(job, true)) {
        bool fileFailed = false;
        const int64_t n = dc.ReceiveToFile(job, fd, fileFailed);
        if (fileFailed) return false;
        total = n > 0 ? static_cast<uint64_t>(n) : 0;
        return true;
    }
    std::vector<char> block(kBlock);
    std::string converted;
    char prev = 0;
    for (;;) {
        if (job.session->Aborted()) {
            total = 0;
            return true;
        }
        const long n = dc.ReceiveLimited(job, block.data(), kBlock);
        if (n < 0) {
            total = 0;
            return true;
        }
        const size_t got = static_cast<size_t>(n);
        bool ok;
        if (job.type == 'A') {
            converted.clear();
            AppendCrlf(std::string_view(block.data(), got), prev, converted);
            ok = WriteFull(fd, converted.data(), converted.size());
        } else {
            ok = WriteFull(fd, block.data(), got);
        }
        if (!ok) return false;
        total += got;
        if (got < kBlock) return true;
    }
}

void ListingJob(TransferJob& job, DataConnection& dc) {
    if (!dc.Open(job, "Opening ASCII mode data connection for directory listing.")) return;
    const uint32_t start = Clock::NowMs();
    ListingOutput out([&dc](const char* data, size_t len) { return dc.Write(data, len); });
    GenerateListing(job, out);
    out.Flush();
    const uint32_t end = Clock::NowMs();
    dc.Close();
    job.session->SetLastActivity();
    StatisticsReply(job, out.Total(), start, end);
}

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
    const uint64_t sent = SendFileData(job, dc, file.fd);
    const uint32_t end = Clock::NowMs();
    dc.Close();
    close(file.fd);
    file.fd = -1;
    site.SetTransferRate(conn, 0);
    job.session->SetLastActivity();
    // A negative restart offset counts as none when judging completeness.
    const uint64_t offset = job.restartOffset > 0 ? static_cast<uint64_t>(job.restartOffset) : 0;
    if (sent + offset < size)
        site.AddCredits(path, conn, job.user, size, 0);
    else
        site.RecordDownload(conn, job.user, size, Rate(sent, start, end));
    StatisticsReply(job, sent, start, end);
}

// Opens the receive target. STOU picks a free name by exclusive creation and renames the job's
// argument to match; APPE continues at the end of an existing file. `truncate` is set when the
// file must be emptied once the data connection is up (never before: a failed STOR keeps it).
int OpenTarget(TransferJob& job, std::string& path, bool& truncate) {
    truncate = false;
    // No final symbolic link: an upload must not write through a link out of the tree.
    const int base = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK;
    if (job.storeMode == 1) {
        int fd = FileUtil::OpenFd(path, base | O_EXCL);
        for (unsigned n = 1; fd < 0 && errno == EEXIST && n <= kMaxUniqueSuffix; ++n) {
            const std::string candidate = StringUtil::Format("%s.%u", path.c_str(), n);
            fd = FileUtil::OpenFd(candidate, base | O_EXCL);
            if (fd >= 0) {
                path = candidate;
                job.argument = StringUtil::Format("%s.%u", job.argument.c_str(), n);
            }
        }
        return fd;
    }
    if (job.storeMode == 2) {
        FileInfo info;
        if (FileUtil::Stat(path, info)) job.restartOffset = static_cast<int64_t>(info.size);
    }
    if (job.restartOffset > 0) return FileUtil::OpenFd(path, base | O_APPEND);
    truncate = true;
    return FileUtil::OpenFd(path, base);
}

void ReceiveJob(TransferJob& job, DataConnection& dc) {
    FtpSite& site = *job.site;
    const uint32_t conn = job.session->ConnectionNumber();
    std::string path = FileUtil::Resolve(job.root, job.cwd, job.argument);
    if (path.empty()) {
        Reply(job, "ERROR: out of memory.", "425", true);
        return;
    }
    bool truncate = false;
    FdCloser file;
    file.fd = OpenTarget(job, path, truncate);
    struct stat st {};
    if (file.fd >= 0 && (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(file.fd);
        file.fd = -1;
    }
    if (file.fd < 0) {
        const std::string shown = FileUtil::Slashed(job.argument);
        Reply(job,
              StringUtil::FormatBounded(256, "%s: The system cannot write to the file specified.",
                                        shown.c_str()),
              "425");
        return;
    }
    fcntl(file.fd, F_SETFL, fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    site.RegisterNewEntry(path, job.user, 0);
    const char* mode = job.type == 'A' ? "ASCII" : "BINARY";
    const std::string text150 =
        StringUtil::FormatBounded(256, "Opening %s mode data connection for %s.", mode,
                                  FileUtil::Slashed(job.argument).c_str());
    if (!dc.Open(job, text150)) return;
    bool written = !truncate || ftruncate(file.fd, 0) == 0;
    dc.receiveLimit = site.GetUploadSpeedLimit(job.user);
    const uint32_t start = Clock::NowMs();
    uint64_t received = 0;
    if (written) written = ReceiveFileData(job, dc, file.fd, received);
    const uint32_t end = Clock::NowMs();
    dc.Close();
    if (close(file.fd) != 0) written = false;
    file.fd = -1;
    site.RegisterNewEntry(path, job.user, -1);
    site.SetTransferRate(conn, 0);
    job.session->SetLastActivity();
    if (!written) {
        // A file that could not be written is a failed upload, whatever arrived.
        const std::string shown = FileUtil::Slashed(job.argument);
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
    if (job.modifyTime != 0) FileUtil::SetTimes(path, job.modifyTime, job.modifyTime);
    site.RecordUpload(conn, job.user, received, Rate(received, start, end));
    site.AddCredits(path, conn, job.user, received, 1);
    StatisticsReply(job, received, start, end);
}

}  // namespace

TransferJob::~TransferJob() {
    if (dataListener >= 0) close(dataListener);
}

const char* TransferJob::Verb() const {
    if (jobType == 'L') return "LIST";
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
