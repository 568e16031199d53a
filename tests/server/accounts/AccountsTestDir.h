#pragma once
// A scratch site for the account tests: a temporary folder, removed afterwards, with helpers to
// write and read files by their internal (backslash) paths.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/FileUtil.h"

namespace orvex::testing {

class ScratchDir {
  public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvex-acc-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) os_ = buf.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!os_.empty()) std::filesystem::remove_all(os_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Internal form of a path below the folder ("" = the folder, ending in a backslash).
    std::string Internal(const std::string& rel = {}) const {
        std::string p = os_ + "/" + rel;
        FileUtil::ToBackslashes(p);
        return p;
    }
    std::string Os(const std::string& rel) const { return os_ + "/" + rel; }

    void Write(const std::string& rel, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(Os(rel)).parent_path());
        std::ofstream(Os(rel), std::ios::binary) << text;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(Os(rel), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Exists(const std::string& rel) const { return std::filesystem::exists(Os(rel)); }
    void MakeDir(const std::string& rel) const { std::filesystem::create_directories(Os(rel)); }
    std::vector<std::string> List(const std::string& rel) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Os(rel)))
            names.push_back(e.path().filename().string());
        return names;
    }

  private:
    std::string os_;
};

// Collects the lines a store logs.
struct LogLines {
    std::vector<std::string> lines;
    auto Sink() {
        return [this](const std::string& l) { lines.push_back(l); };
    }
    bool Has(const std::string& l) const {
        for (const auto& x : lines)
            if (x == l) return true;
        return false;
    }
};

}  // namespace orvex::testing
