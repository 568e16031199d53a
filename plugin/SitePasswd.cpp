#include <ctime>

#include "plugin/SiteFiles.h"
#include "plugin/TemplateText.h"

namespace orvex::plugin {

std::string TodayForPasswd() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&now, &local) != nullptr) std::strftime(text, sizeof text, "%m-%d-%y", &local);
    return text;
}

int RewriteSitePasswd(std::string_view templ, const std::string& rootParam,
                      const std::string& homeParam, const std::string& date, std::string& out) {
    const std::string root = PathParameter(rootParam);
    const std::string home = PathParameter(homeParam);
    PieceReader reader(templ);
    TemplatePiece piece;
    int count = 0;
    while (reader.Next(piece)) {
        ++count;
        if (!piece.startsLine || piece.text.substr(0, 5) != "orvex") {
            out.append(piece.text);
            continue;
        }
        // The account line is completed whole, even when it spans several pieces.
        std::string line(piece.text);
        while (!piece.endsLine && reader.Next(piece)) {
            ++count;
            line.append(piece.text);
        }
        line = line.substr(0, line.find('\r'));
        line = line.substr(0, line.find('\n'));
        out += line + date;
        if (auto part = PartUnderRoot(root, home)) {
            out += ";./" + *part + "\n";
        } else {
            out += ";" + home + "\n";
        }
    }
    return count;
}

int UpdateSitePasswdFile(const std::string& templatePath, const std::string& outputPath,
                         const std::string& root, const std::string& home) {
    const std::string date = TodayForPasswd();
    // The passwd file holds password hashes: a new one is readable by its owner only.
    return RewriteTemplateFile(templatePath, outputPath, 0600,
                               [&](std::string_view templ, std::string& out) {
                                   return RewriteSitePasswd(templ, root, home, date, out);
                               });
}

}  // namespace orvex::plugin
