// Prints what the operator's reference is made from, so the reference cannot drift from the code:
//   orvex-docgen keys                    every key the configuration parser knows, one a line
//   orvex-docgen site-commands HELPDIR   the SITE command table in Markdown, from the declared
//                                        commands, their default expressions and help files

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/StringUtil.h"
#include "server/app/SiteConfigRecord.h"
#include "server/remote/RemoteCommands.h"
#include "server/site/SiteCommandTable.h"

namespace {

using namespace orvex;

// The first sentence of the text below the help file's "Usage:" line.
std::string Purpose(const std::string& helpFile) {
    std::ifstream in(helpFile);
    std::string line, text;
    while (std::getline(in, line)) {
        if (line.starts_with("Usage:")) continue;
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) {
            if (!text.empty()) break;
            continue;
        }
        if (!text.empty()) text += ' ';
        text += line.substr(start);
        // A help that lists rather than tells: its heading says what it is.
        if (text.back() == ':') {
            text.back() = '.';
            break;
        }
    }
    // A sentence ends at a full stop before a capital letter; "e.g. 755" goes on.
    for (size_t dot = text.find('.'); dot != std::string::npos; dot = text.find('.', dot + 1)) {
        const bool last = dot + 1 == text.size();
        if (last || (text[dot + 1] == ' ' && dot + 2 < text.size() &&
                     std::isupper(static_cast<unsigned char>(text[dot + 2]))))
            return text.substr(0, dot + 1);
    }
    return text;
}

// "1 2 7" reads "flag 1, 2 or 7"; "!8 *" reads "everyone without flag 8".
std::string Who(const std::string& expression) {
    std::istringstream terms(expression);
    std::vector<std::string> flags, without, named;
    bool everyone = false;
    for (std::string t; terms >> t;) {
        if (t == "*")
            everyone = true;
        else if (t[0] == '!' && t.size() == 2)
            without.push_back(t.substr(1));
        else if (t[0] == '-' || t[0] == '=')
            named.push_back(t);
        else
            flags.push_back(t.substr(0, 1));
    }
    auto list = [](const std::vector<std::string>& v) {
        std::string s;
        for (size_t i = 0; i < v.size(); ++i)
            s += (i == 0 ? "" : i + 1 == v.size() ? " or " : ", ") + v[i];
        return s;
    };
    std::string who;
    if (!flags.empty()) who = "flag " + list(flags);
    if (!named.empty()) who += (who.empty() ? "" : ", ") + list(named);
    if (everyone) who += (who.empty() ? "everyone" : ", everyone else");
    if (!without.empty()) who += " without flag " + list(without);
    return "`" + expression + "` (" + who + ")";
}

// A bar inside a cell would end it, and <name> would read as an HTML tag.
std::string Cell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|')
            out += "\\|";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

void Row(const std::string& name, const std::string& who, const std::string& help) {
    std::printf("| %s | %s | %s |\n", name.c_str(), who.c_str(), Cell(Purpose(help)).c_str());
}

int SiteCommandTable(const std::string& helpDir) {
    KeyedList<std::string> flags{"SITE flags list"};
    if (!BuildDefaultSiteFlags(flags)) return 1;
    auto expression = [&flags](const std::string& name) {
        const auto* node = flags.FindName(name, true);
        return node ? Who(node->data) : std::string("every user (the command decides)");
    };
    std::printf("| command | who may use it by default | purpose |\n|---|---|---|\n");
    for (const SiteCommand& c : SiteCommands()) {
        const std::string lower = StringUtil::Lowered(c.name);
        if (std::strcmp(c.name, "REMOTE") == 0) {
            for (const remote::RemoteCommand& r : remote::RemoteCommands()) {
                const std::string sub = std::string("REMOTE ") + r.name;
                Row(sub, expression(sub), helpDir + "/remote." + StringUtil::Lowered(r.name));
            }
            continue;
        }
        Row(c.name, c.access ? expression(c.access) : expression(""), helpDir + "/site." + lower);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "keys") == 0) {
        for (std::string_view k : SiteConfigKeyNames())
            std::printf("%.*s\n", static_cast<int>(k.size()), k.data());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "site-commands") == 0) return SiteCommandTable(argv[2]);
    std::fprintf(stderr, "usage: orvex-docgen keys | site-commands HELPDIR\n");
    return 2;
}
