#include "engine/TextFileReply.h"

#include <cstdio>

#include "engine/FileUtil.h"
#include "engine/ReplyBuilder.h"

namespace orvex {

namespace {

constexpr size_t kPiece = 254;

// One line of the file without its line end; false at the end of the file.
bool NextLine(FILE* f, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

}  // namespace

bool TextFileReply::Send(ReplyBuilder& out, std::string_view path, std::string_view code,
                         std::optional<std::string_view> closing, int mode) {
    UniqueFile f = FileUtil::OpenFile(path, "r");
    if (!f) {
        if (mode == 0) out.Reply("Unable to get file information.", "451", 0);
        return false;
    }
    const int lineMode = mode > 0 ? mode : 1;
    std::string line;
    while (NextLine(f.get(), line)) {
        // Long lines go out as several reply lines; an empty line still gives one.
        size_t at = 0;
        do {
            std::string_view piece = std::string_view(line).substr(at, kPiece);
            at += kPiece;
            if (piece.substr(0, 2) == "//") continue;
            std::string text = " ";
            text.append(piece);
            out.Reply(text, code, lineMode);
        } while (at < line.size());
    }
    if (mode == 0) out.Reply(closing.value_or("Command Successful."), code, 0);
    return true;
}

}  // namespace orvex
