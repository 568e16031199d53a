// The site object's program and access logs.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

constexpr size_t kFieldMax = 63;      // date format, line formats
constexpr size_t kDateCapacity = 64;  // the expanded date
// Room for an expanded file name: day and month names grow far past the format's own length.
constexpr size_t kPathCapacity = 4096;

std::string Field(std::string_view text) {
    std::string s(text);
    StringUtil::Truncate(s, kFieldMax);
    return s;
}

// Log mode -> Logger destination: 1 screen, 2 file, 3 both; anything else writes nothing.
int Destination(int mode) {
    switch (mode) {
        case 1:
            return 0;
        case 2:
            return 1;
        case 3:
            return 2;
        default:
            return -1;
    }
}

// The stored file name for `name` under `directory`; false when the directory does not exist.
bool LogFileName(std::string_view name, std::string_view directory, std::string& out) {
    std::string root;
    if (!directory.empty()) {
        root = directory;
        FileUtil::ToBackslashes(root);
        FileUtil::AddTrailingSep(root);
        // The operator's own path: links in it, the folder itself included (a packaged site
        // keeps its logs in /var/log), are his to choose.
        struct stat st {};
        if (stat(FileUtil::OsPath(root).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    out = FileUtil::ResolveText(root, "", name);
    return !out.empty();
}

}  // namespace

int64_t FtpSite::LogTime() const {
    return Clock::NowSeconds();
}

void FtpSite::SetLogDateFormat(std::string_view format) {
    LockGuard a(accessLogLock_);
    LockGuard p(programLogLock_);
    dateFormat_ = Field(format);
}

void FtpSite::SetProgramLogLevel(int value) {
    programMode_ = value;
}
void FtpSite::SetAccessLogLevel(int value) {
    accessMode_ = value;
}

void FtpSite::SetProgramLogFormat(std::string_view format) {
    LockGuard g(programLogLock_);
    programLogFormat_ = Field(format);
}

void FtpSite::SetAccessLogFormat(std::string_view format) {
    LockGuard g(accessLogLock_);
    accessLogFormat_ = Field(format);
}

bool FtpSite::SetProgramLogFile(std::string_view name, std::string_view directory) {
    std::string file;
    if (!LogFileName(name, directory, file)) return false;
    LockGuard g(programLogLock_);
    programLogFile_ = std::move(file);
    return true;
}

bool FtpSite::SetAccessLogFile(std::string_view name, std::string_view directory) {
    std::string file;
    if (!LogFileName(name, directory, file)) return false;
    LockGuard g(accessLogLock_);
    accessLogFile_ = std::move(file);
    return true;
}

bool FtpSite::LogProgram(const char* subsystem, const char* fmt, ...) {
    if (programMode_ == 0) return true;
    if (!fmt) return false;
    std::string message;
    std::vector<char> buf(100);
    va_list ap;
    va_start(ap, fmt);
    for (;;) {
        va_list copy;
        va_copy(copy, ap);
        int n = std::vsnprintf(buf.data(), buf.size(), fmt, copy);
        va_end(copy);
        if (n < 0) {
            va_end(ap);
            return false;
        }
        if (static_cast<size_t>(n) < buf.size()) {
            message.assign(buf.data(), static_cast<size_t>(n));
            break;
        }
        buf.resize(buf.size() * 2);
    }
    va_end(ap);
    return LogProgramLine(subsystem ? subsystem : "", message);
}

bool FtpSite::LogProgramLine(std::string_view subsystem, std::string_view message) {
    int mode = programMode_;
    if (mode == 0) return true;
    return WriteLog(programLogLock_, programLog_, programLogFile_, programLogFormat_, "DSM",
                    {std::string(), std::string(subsystem), std::string(message)}, mode);
}

bool FtpSite::LogAccess(const AccessLogEntry& e) {
    int mode = accessMode_;
    if (mode == 0) return true;
    return WriteLog(
        accessLogLock_, accessLog_, accessLogFile_, accessLogFormat_, "dslcpumart",
        {std::string(), std::string(e.localIp), std::string(e.localPort), std::string(e.peerIp),
         std::string(e.peerPort), std::string(e.user), std::string(e.verb), std::string(e.args),
         std::string(e.code), std::string(e.text)},
        mode);
}

// values[0] is the date slot, filled here under the lock.
bool FtpSite::WriteLog(Lock& lock, Logger& logger, const std::string& fileFormat,
                       const std::string& lineFormat, std::string_view letters,
                       std::vector<std::string> values, int mode) {
    int destination = Destination(mode);
    if (destination < 0) return false;
    // Every field but the date, which the server makes itself, may carry client text.
    for (size_t i = 1; i < values.size(); ++i) values[i] = StringUtil::EscapeLogField(values[i]);
    LockGuard g(lock);
    if (fileFormat.empty()) return false;
    int64_t now = LogTime();
    values[0] = FormatTime(dateFormat_, now, false, kDateCapacity);
    std::string line = StringUtil::ExpandTemplate(lineFormat, letters, values);
    // The name is expanded at every write, so a dated name moves to the new file at midnight.
    logger.SetPath(FormatTime(fileFormat, now, false, kPathCapacity));
    return logger.Write(line, destination);
}

void FtpSite::FlushLogs() {
    {
        LockGuard g(programLogLock_);
        programLog_.Flush();
    }
    LockGuard g(accessLogLock_);
    accessLog_.Flush();
}

}  // namespace orvex
