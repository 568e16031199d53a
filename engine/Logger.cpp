#include "engine/Logger.h"

#include <cstdio>

#include "engine/Clock.h"

namespace orvex {

Logger::Logger(std::string path, int64_t flushInterval)
    : path_(path.empty() ? "out.log" : std::move(path)),
      lastFlush_(Clock::NowSeconds() - flushInterval),
      flushInterval_(flushInterval) {}

bool Logger::Write(std::string_view line, int destination) {
    if (destination == 0 || destination == 2) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        if (destination == 0) return true;
    } else if (destination != 1) {
        return false;
    }
    if (path_.empty()) return false;
    if (!file_) {
        file_ = FileUtil::OpenFile(path_, "ae");
        if (!file_) return false;
    }
    bool ok = std::fwrite(line.data(), 1, line.size(), file_.get()) == line.size() &&
              std::fputc('\n', file_.get()) != EOF;
    int64_t now = Clock::NowSeconds();
    if (now - lastFlush_ >= flushInterval_) {
        std::fflush(file_.get());
        lastFlush_ = now;
    }
    return ok;
}

void Logger::SetPath(std::string_view name, std::string_view directory) {
    std::string next(directory);
    next.append(name);
    if (next == path_) return;
    file_.reset();
    path_ = std::move(next);
}

void Logger::Flush() {
    if (file_) std::fflush(file_.get());
}

}  // namespace orvex
