// A temporary folder for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orvex::test {

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/orvex-plugin-XXXXXX";
        char* made = mkdtemp(tmpl);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// "%m-%d-%y" shape: two digits, dash, two digits, dash, two digits.
inline bool IsPasswdDate(const std::string& text) {
    if (text.size() != 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        bool ok = (i == 2 || i == 5) ? text[i] == '-' : (text[i] >= '0' && text[i] <= '9');
        if (!ok) return false;
    }
    return text[0] <= '1' && text[3] <= '3';
}

// Checks `text` is `before`, a passwd date, then `after`.
inline bool HasDateBetween(const std::string& text, const std::string& before,
                           const std::string& after) {
    return text.size() == before.size() + 8 + after.size() && text.rfind(before, 0) == 0 &&
           text.compare(before.size() + 8, std::string::npos, after) == 0 &&
           IsPasswdDate(text.substr(before.size(), 8));
}

// A systemctl stand-in that logs each call's arguments as one line of calls.log beside it,
// answers is-active with the next line of its states file (then "inactive"), and fails a
// command for which a file fail-<command> exists.
inline std::string MakeFakeSystemctl(const TempDir& dir) {
    std::string script = dir / "systemctl";
    WriteText(script,
              "#!/bin/sh\n"
              "here=$(dirname \"$0\")\n"
              "echo \"$*\" >> \"$here/calls.log\"\n"
              "if [ \"$1\" = is-active ]; then\n"
              "  if [ -s \"$here/states\" ]; then head -n 1 \"$here/states\"; sed -i 1d "
              "\"$here/states\";\n"
              "  else echo inactive; fi\n"
              "fi\n"
              "[ -e \"$here/fail-$1\" ] && exit 1\n"
              "exit 0\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return script;
}

}  // namespace orvex::test
