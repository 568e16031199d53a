#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/FileUtil.h"

namespace orvex {

// One log destination: a file opened on first write, flushed at most every `flushInterval` s.
class Logger {
  public:
    explicit Logger(std::string path = "out.log", int64_t flushInterval = 0);
    // Destination 0 screen, 1 file, 2 screen and file.
    bool Write(std::string_view line, int destination);
    void SetPath(std::string_view name, std::string_view directory = {});
    void SetFlushInterval(int64_t seconds) { flushInterval_ = seconds; }
    const std::string& Path() const { return path_; }
    void Flush();

  private:
    std::string path_;
    UniqueFile file_;
    int64_t lastFlush_;
    int64_t flushInterval_;
};

}  // namespace orvex
