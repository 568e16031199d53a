#include "plugin/SiteFiles.h"
#include "plugin/TemplateText.h"

namespace orvex::plugin {

int RewriteSiteConf(std::string_view templ, const std::string& rootParam,
                    const std::string& homeParam, std::string& out) {
    const std::string root = PathParameter(rootParam);
    const std::string home = PathParameter(homeParam);
    PieceReader reader(templ);
    TemplatePiece piece;
    int count = 0;
    bool dropRestOfLine = false;
    while (reader.Next(piece)) {
        ++count;
        if (!piece.startsLine) {
            // The rest of an over-long line is no line of its own.
            if (!dropRestOfLine) out.append(piece.text);
            continue;
        }
        std::string_view word = FirstWord(piece.text);
        dropRestOfLine = false;
        if (EqualsNoCase(word, "rootpath")) {
            out += "rootpath                " + root + "\n";
            dropRestOfLine = !piece.endsLine;
        } else if (EqualsNoCase(word, "default_homedir")) {
            if (auto part = PartUnderRoot(root, home)) {
                out += "default_homedir         ./" + *part + "\n";
            } else {
                out += "default_homedir         " + home + "\n";
            }
            dropRestOfLine = !piece.endsLine;
        } else {
            out.append(piece.text);
        }
    }
    return count;
}

int UpdateSiteConfFile(const std::string& templatePath, const std::string& outputPath,
                       const std::string& root, const std::string& home) {
    return RewriteTemplateFile(templatePath, outputPath, 0644,
                               [&](std::string_view templ, std::string& out) {
                                   return RewriteSiteConf(templ, root, home, out);
                               });
}

}  // namespace orvex::plugin
