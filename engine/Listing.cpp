// Unix-style listings: the output buffer, the generator and the base listing line.

#include "engine/Listing.h"

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/MachineListing.h"
#include "engine/StringUtil.h"
#include "engine/TransferJob.h"

namespace orvex {

namespace {

constexpr size_t kOutputBlock = 4096;
constexpr size_t kLineBody = 253;
constexpr size_t kLineSize = 256;

bool HasOption(const TransferJob& job, char c) {
    return job.options.find(c) != std::string::npos;
}

// Names that would break the line format, or that no client could ask for again.
bool Unlistable(std::string_view name) {
    return name == "." || name == ".." || name.find_first_of("\\\r\n") != std::string_view::npos;
}

std::string WithCrlf(std::string body) {
    StringUtil::Truncate(body, kLineBody);
    body += "\r\n";
    return body;
}

bool Aborted(const TransferJob& job) {
    return job.session && job.session->Aborted();
}

// The single-file case: the line of the path itself with the argument in the name column.
bool FileLine(const TransferJob& job, std::string path, const std::string& year,
              std::string& line) {
    FileUtil::StripTrailingSep(path);
    FileInfo info;
    if (!FileUtil::Stat(path, info) || (info.mode & kModeDirectory)) return false;
    std::string body;
    if (!HasOption(job, 'N')) {
        body = job.site->FormatListingLine(path, info, year);
        if (body.empty()) return false;
        body = body.substr(0, body.find('\r'));
        const std::string_view name = FileUtil::AfterLastSep(path);
        if (body.size() >= name.size() &&
            body.compare(body.size() - name.size(), name.size(), name.data(), name.size()) == 0)
            body.erase(body.size() - name.size());
    }
    body += job.argument;
    line = WithCrlf(std::move(body));
    return true;
}

struct Entry {
    std::string name;
    FileInfo info;
    bool Directory() const { return (info.mode & kModeDirectory) != 0; }
};

// One directory still to be listed: its absolute path (ending in a backslash) and its name as the
// client sees it.
struct Pending {
    std::string dir;
    std::string shown;
};

// Lists one directory: the header (R), subdirectories first, then everything else, each group in
// the order the directory is read, which happens once with one status per entry. `subdirs` gets
// the subdirectories. False when the whole listing must stop (aborted or the connection failed).
bool ListDirectory(const TransferJob& job, ListingOutput& out, const Pending& at,
                   const std::string& scanPath, const std::string& year,
                   std::vector<std::string>& subdirs) {
    const bool recursive = HasOption(job, 'R');
    if (recursive) {
        // Never the session's user: the client thread may change that while the job runs.
        if (!job.site->CheckPermission(job.user, at.dir, "lvx"))
            return out.Append(WithCrlf(at.shown + ": Permission denied.")) && out.Flush();
        if (!out.Append(WithCrlf(at.shown + ":"))) return false;
    }
    std::vector<Entry> entries;
    FileUtil::DirectoryScan scan(scanPath);
    Entry e;
    while (scan.Next(e.name, e.info)) {
        if (Aborted(job)) {
            out.Drop();
            return false;
        }
        if (!Unlistable(e.name)) entries.push_back(e);
    }
    const std::unique_ptr<EntryFacts> facts =
        job.machine ? job.site->MachineFacts(job.user) : nullptr;
    for (const bool directories : {true, false}) {
        for (const Entry& entry : entries) {
            if (entry.Directory() != directories) continue;
            if (Aborted(job)) {
                out.Drop();
                return false;
            }
            if (job.machine) {
                // Never cut: the name ends the line, and a cut name would be another file's.
                const std::string line = MachineListing::EntryLine(
                    *facts, at.dir + entry.name, entry.info, job.facts, entry.name);
                if (!out.Append(line + "\r\n")) return false;
                continue;
            }
            const std::string body =
                HasOption(job, 'N')
                    ? entry.name
                    : job.site->FormatListingLine(at.dir + entry.name, entry.info, year);
            if (!body.empty() && !out.Append(WithCrlf(body))) return false;
        }
    }
    if (!recursive) return out.Flush();
    // A link to a directory is no directory here, so the walk never leaves through one.
    for (const Entry& entry : entries)
        if (entry.Directory()) subdirs.push_back(entry.name);
    return out.Append("\r\n") && out.Flush();
}

// False when the whole listing must stop (aborted or the connection failed).
bool ListPath(const TransferJob& job, ListingOutput& out, const std::string& year) {
    const std::string path = FileUtil::Resolve(job.root, job.cwd, job.argument);
    if (path.empty()) return out.Flush();
    // MLSD names one directory exactly: a star in it is part of the name.
    const bool pattern = !job.machine && path.find('*') != std::string::npos;
    std::string line;
    if (!pattern && !job.machine && FileLine(job, path, year, line))
        return out.Append(line) && out.Flush();

    std::string dir = pattern ? FileUtil::DirName(path) : path;
    FileUtil::AddTrailingSep(dir);
    // A pattern's subdirectories are named from the pattern's directory, not the pattern.
    std::string base = FileUtil::Slashed(job.argument);
    if (pattern) {
        const size_t sep = base.rfind('/');
        base = sep == std::string::npos ? std::string() : base.substr(0, sep);
    }
    // Depth first without recursion, so that no depth of tree can exhaust the thread's stack.
    std::vector<Pending> todo{{dir, FileUtil::Slashed(job.argument)}};
    bool top = true;
    while (!todo.empty()) {
        const Pending at = std::move(todo.back());
        todo.pop_back();
        std::vector<std::string> subdirs;
        const std::string scanPath = top && pattern ? path : at.dir + "*";
        if (!ListDirectory(job, out, at, scanPath, year, subdirs)) return false;
        const std::string& parent = top ? base : at.shown;
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
            todo.push_back({at.dir + *it + "\\", parent.empty() ? *it : parent + "/" + *it});
        top = false;
    }
    return true;
}

}  // namespace

bool ListingOutput::Append(const std::string& text) {
    if (failed_) return false;
    size_t pos = 0;
    while (pos < text.size()) {
        if (buffer_.capacity() < kOutputBlock) buffer_.reserve(kOutputBlock);
        const size_t n = std::min(kOutputBlock - buffer_.size(), text.size() - pos);
        buffer_.append(text, pos, n);
        pos += n;
        if (buffer_.size() >= kOutputBlock && !Flush()) return false;
    }
    return true;
}

bool ListingOutput::Flush() {
    if (failed_) return false;
    if (buffer_.empty()) return true;
    if (!writer_(buffer_.data(), buffer_.size())) {
        failed_ = true;
        buffer_.clear();
        return false;
    }
    total_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool GenerateListing(const TransferJob& job, ListingOutput& out) {
    if (!job.site) return false;
    const std::string year = FtpSite::FormatTime("%Y");
    return ListPath(job, out, year);
}

std::string BaseListingLine(const std::string& path, const std::string& currentYear,
                            const std::string& owner, const std::string& group) {
    FileInfo info;
    if (!FileUtil::Stat(path, info)) return {};
    return BaseListingLine(path, info, currentYear, owner, group);
}

std::string BaseListingLine(const std::string& path, const FileInfo& info,
                            const std::string& currentYear, const std::string& owner,
                            const std::string& group) {
    const size_t sep = path.rfind('\\');
    const std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    // The modification time, which is what a Linux user knows a file's date by.
    std::string date = FtpSite::FormatTime("%Y %b %d %H:%M", info.modifyTime);
    if (!currentYear.empty() && date.size() >= 5 && date.compare(0, 4, currentYear, 0, 4) != 0) {
        const size_t last = date.rfind(' ');
        if (last != std::string::npos && last + 6 <= date.size()) {
            const std::string year = date.substr(0, 4);
            date[last + 1] = ' ';
            date.replace(last + 2, 4, year);
        }
    }
    if (date.size() >= 5) date.erase(0, 5);
    std::string line = StringUtil::FormatBounded(
        kLineSize, "%c%9s %3ld %-8.8s %-8.8s %10llu %s ", (info.mode & kModeDirectory) ? 'd' : '-',
        FileUtil::ModeString(info.mode).c_str(), static_cast<long>(info.links), owner.c_str(),
        group.c_str(), static_cast<unsigned long long>(info.size), date.c_str());
    StringUtil::AppendBounded(line, name, kLineSize);
    return line;
}

}  // namespace orvex
