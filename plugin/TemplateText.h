// Reading an installer template in pieces and the path helpers both site files need.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::plugin {

// Templates are read in pieces of at most this many characters, each one counted.
constexpr size_t kPieceSize = 264;
constexpr size_t kMaxTemplateSize = 16 * 1024 * 1024;

struct TemplatePiece {
    std::string_view text;
    bool startsLine = false;  // false for the rest of a line longer than one piece
    bool endsLine = false;    // ends with a line feed, or at the end of the template
};

class PieceReader {
  public:
    explicit PieceReader(std::string_view text) : rest_(text) {}
    bool Next(TemplatePiece& piece);

  private:
    std::string_view rest_;
    bool atLineStart_ = true;
};

// Characters up to the first white space after any leading white space; empty for none.
std::string_view FirstWord(std::string_view piece);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Adds a separator unless the path ends in one: a backslash for backslash-only paths.
std::string WithTrailingSeparator(std::string path);
// A root or home parameter as written: cut at its first line break, which would otherwise
// start a line of its own in the file, and given a trailing separator.
std::string PathParameter(const std::string& param);
// The part of `home` below `root` with slashes, when home lies under root.
std::optional<std::string> PartUnderRoot(const std::string& root, const std::string& home);

// Reads the template, rewrites it and writes the output whole; the piece count, or 0 when a
// file cannot be read or written.
int RewriteTemplateFile(const std::string& templatePath, const std::string& outputPath,
                        mode_t newFileMode,
                        const std::function<int(std::string_view, std::string&)>& rewrite);

}  // namespace orvex::plugin
