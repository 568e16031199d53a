// A throw-away site folder for configuration tests, and a site object that records what the
// configuration tells it.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/FtpSite.h"

namespace orvex::test {

class SiteFolder {
  public:
    SiteFolder() {
        char tmpl[] = "/tmp/orvex-config-XXXXXX";
        char* made = mkdtemp(tmpl);
        path_ = made ? made : "";
        std::filesystem::create_directories(path_ + "/ftp-data/logs");
    }
    ~SiteFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    SiteFolder(const SiteFolder&) = delete;
    SiteFolder& operator=(const SiteFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The root as the configuration stores it.
    std::string Internal() const {
        std::string s = path_ + "/";
        std::replace(s.begin(), s.end(), '/', '\\');
        return s;
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(*this / name, std::ios::binary | std::ios::trunc) << text;
    }

  private:
    std::string path_;
};

class RecordingSite : public FtpSite {
  public:
    std::vector<std::string> logLines;
    std::vector<std::string> calls;

    bool LogProgramLine(std::string_view, std::string_view message) override {
        logLines.emplace_back(message);
        return true;
    }
    int SetPassivePortRange(int low, int high) override {
        calls.push_back("pasv " + std::to_string(low) + " " + std::to_string(high));
        return 1;
    }
    bool SetProgramLogFile(std::string_view name, std::string_view dir) override {
        calls.push_back("progfile " + std::string(name) + " " + std::string(dir));
        return true;
    }
    bool SetAccessLogFile(std::string_view name, std::string_view dir) override {
        calls.push_back("accessfile " + std::string(name) + " " + std::string(dir));
        return true;
    }
    void SetProgramLogFormat(std::string_view f) override {
        calls.push_back("progformat " + std::string(f));
    }
    void SetAccessLogFormat(std::string_view f) override {
        calls.push_back("accessformat " + std::string(f));
    }
    void SetLogDateFormat(std::string_view f) override {
        calls.push_back("dateformat " + std::string(f));
    }

    bool Logged(const std::string& line) const {
        return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
    }
    size_t CountContaining(const std::string& part) const {
        return std::count_if(logLines.begin(), logLines.end(), [&](const std::string& l) {
            return l.find(part) != std::string::npos;
        });
    }
};

}  // namespace orvex::test
