// Unix-style listings: the output buffer, the generator and the base listing line.

#include "engine/Listing.h"

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"
#include "engine/TransferJob.h"

namespace orvex {

namespace {

constexpr size_t kOutputBlock = 4096;
constexpr size_t kLineBody = 253;
constexpr size_t kLineSize = 256;

enum class Pass { Directories, Files };

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

// One entry's line, or empty when the entry gives none under `pass`.
std::string EntryLine(const TransferJob& job, const std::string& dir, const std::string& name,
                      Pass pass, const std::string& year) {
    if (Unlistable(name)) return {};
    std::string abs = dir + name;
    FileUtil::ToBackslashes(abs);
    const int kind = FileUtil::Kind(abs);
    if (kind == 0) return {};
    if ((kind == 1) != (pass == Pass::Directories)) return {};
    std::string body = HasOption(job, 'N') ? name : job.site->FormatListingLine(abs, year);
    if (body.empty()) return {};
    return WithCrlf(std::move(body));
}

// The single-file case: the line of the path itself with the argument in the name column.
bool FileLine(const TransferJob& job, std::string path, const std::string& year,
              std::string& line) {
    FileUtil::StripTrailingSep(path);
    if (FileUtil::Kind(path) != 2) return false;
    std::string body;
    if (!HasOption(job, 'N')) {
        body = job.site->FormatListingLine(path, year);
        if (body.empty()) return false;
        body = body.substr(0, body.find('\r'));
        const size_t sep = path.rfind('\\');
        const std::string_view name =
            std::string_view(path).substr(sep == std::string::npos ? 0 : sep + 1);
        if (body.size() >= name.size() &&
            body.compare(body.size() - name.size(), name.size(), name.data(), name.size()) == 0)
            body.erase(body.size() - name.size());
    }
    body += job.argument;
    line = WithCrlf(std::move(body));
    return true;
}

// Never the session's user: the client thread may change that while the job runs.
const std::string& UserOf(const TransferJob& job) {
    return job.user;
}

bool Aborted(const TransferJob& job) {
    return job.session && job.session->Aborted();
}

// Calls `each` for every name the scan finds; false when the job was aborted (the pending output
// is dropped) or `each` failed.
template <typename Each>
bool ForEachName(const TransferJob& job, ListingOutput& out, const std::string& scanPath,
                 Each each) {
    FileUtil::DirectoryScan scan(scanPath);
    std::string name;
    while (scan.Next(name)) {
        if (Aborted(job)) {
            out.Drop();
            return false;
        }
        if (!each(name)) return false;
    }
    return true;
}

// False when the whole listing must stop (aborted or the connection failed).
bool ListPath(const TransferJob& job, ListingOutput& out, const std::string& year) {
    const std::string path = FileUtil::Resolve(job.root, job.cwd, job.argument);
    const bool pattern = path.find('*') != std::string::npos;
    std::string line;
    if (!pattern && FileLine(job, path, year, line)) return out.Append(line) && out.Flush();

    std::string dir = pattern ? FileUtil::DirName(path) : path;
    FileUtil::AddTrailingSep(dir);
    const bool recursive = HasOption(job, 'R');
    if (recursive) {
        const std::string shown = FileUtil::Slashed(job.argument);
        if (!job.site->CheckPermission(UserOf(job), dir, "lvx"))
            return out.Append(WithCrlf(shown + ": Permission denied.")) && out.Flush();
        if (!out.Append(WithCrlf(shown + ":"))) return false;
    }

    const std::string scanPath = pattern ? path : dir + "*";
    for (Pass pass : {Pass::Directories, Pass::Files}) {
        const bool listed = ForEachName(job, out, scanPath, [&](const std::string& name) {
            line = EntryLine(job, dir, name, pass, year);
            return line.empty() || out.Append(line);
        });
        if (!listed) return false;
    }
    if (!recursive) return out.Flush();
    if (!out.Append("\r\n") || !out.Flush()) return false;

    // A pattern's subdirectories are named from the pattern's directory, not the pattern.
    std::string base = job.argument;
    if (pattern) {
        const size_t sep = base.find_last_of("\\/");
        base = sep == std::string::npos ? std::string() : base.substr(0, sep);
    }
    return ForEachName(job, out, scanPath, [&](const std::string& name) {
        // Kind() does not follow links, so a linked directory is never descended into.
        if (Unlistable(name) || FileUtil::Kind(dir + name) != 1) return true;
        TransferJob child;
        child.jobType = job.jobType;
        child.options = job.options;
        child.argument = FileUtil::Slashed(base.empty() ? name : base + "\\" + name);
        child.root = job.root;
        child.cwd = job.cwd;
        child.session = job.session;
        child.site = job.site;
        child.user = UserOf(job);
        return ListPath(child, out, year);
    });
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

void GenerateListing(const TransferJob& job, ListingOutput& out) {
    if (!job.site) return;
    const std::string year = FtpSite::FormatTime("%Y");
    ListPath(job, out, year);
}

std::string BaseListingLine(const std::string& path, const std::string& currentYear,
                            const std::string& owner, const std::string& group) {
    FileInfo info;
    if (!FileUtil::Stat(path, info)) return {};
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
