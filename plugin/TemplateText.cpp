#include "plugin/TemplateText.h"

#include "engine/os/AtomicFile.h"
#include "engine/os/FileLock.h"

namespace orvex::plugin {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool PieceReader::Next(TemplatePiece& piece) {
    if (rest_.empty()) return false;
    size_t len = rest_.size() < kPieceSize ? rest_.size() : kPieceSize;
    size_t lf = rest_.substr(0, len).find('\n');
    if (lf != std::string_view::npos) len = lf + 1;
    piece.text = rest_.substr(0, len);
    piece.startsLine = atLineStart_;
    rest_.remove_prefix(len);
    piece.endsLine = piece.text.back() == '\n' || rest_.empty();
    atLineStart_ = piece.text.back() == '\n';
    return true;
}

std::string_view FirstWord(std::string_view piece) {
    size_t start = 0;
    while (start < piece.size() && IsSpace(piece[start])) ++start;
    size_t end = start;
    while (end < piece.size() && !IsSpace(piece[end])) ++end;
    return piece.substr(start, end - start);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::string WithTrailingSeparator(std::string path) {
    if (!path.empty() && IsSeparator(path.back())) return path;
    bool backslashOnly =
        path.find('\\') != std::string::npos && path.find('/') == std::string::npos;
    path += backslashOnly ? '\\' : '/';
    return path;
}

std::string PathParameter(const std::string& param) {
    return WithTrailingSeparator(param.substr(0, param.find_first_of("\r\n")));
}

std::optional<std::string> PartUnderRoot(const std::string& root, const std::string& home) {
    // Case matters in these paths, but either separator stands for the other.
    if (home.size() < root.size()) return std::nullopt;
    for (size_t i = 0; i < root.size(); ++i) {
        bool same = home[i] == root[i] || (IsSeparator(home[i]) && IsSeparator(root[i]));
        if (!same) return std::nullopt;
    }
    std::string part = home.substr(root.size());
    for (char& c : part) {
        if (c == '\\') c = '/';
    }
    return part;
}

int RewriteTemplateFile(const std::string& templatePath, const std::string& outputPath,
                        mode_t newFileMode,
                        const std::function<int(std::string_view, std::string&)>& rewrite) {
    // The output may be the server's passwd file, which the server and its tools change too.
    const FileLock edit(outputPath);
    if (edit.Blocked()) return 0;
    std::optional<std::string> text = ReadWholeFile(templatePath, kMaxTemplateSize);
    if (!text) return 0;
    std::string out;
    int count = rewrite(*text, out);
    if (!WriteFileAtomically(outputPath, out, true, newFileMode)) return 0;
    return count;
}

}  // namespace orvex::plugin
