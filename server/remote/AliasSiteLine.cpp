#include "server/remote/AliasSiteLine.h"

#include <cstdlib>

#include "engine/StringUtil.h"
#include "server/site/SiteBraced.h"

namespace orvex {

namespace {

constexpr long kMaxNewCount = 99;

bool AllDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsOption(const std::string& arg) {
    return !arg.empty() && arg[0] == '-';
}

void Refuse(AliasSiteLine& p, const char* code, std::string text) {
    p.errorCode = code;
    p.errorText = std::move(text);
}

// A directory in braces from args[first] on; false after recording the refusal.
bool Braced(AliasSiteLine& p, const Args& args, size_t first, const char* noName, size_t& used) {
    const BracedName b = ParseBraced(args, first);
    if (b.error == 1) Refuse(p, "501", noName);
    if (b.error == 2) Refuse(p, "502", "} not found in directory name.");
    if (b.error != 0) return false;
    p.typed = b.name;
    used = b.used;
    return true;
}

void PlanOwnerOrMode(AliasSiteLine& p, std::string_view name, const Args& args) {
    size_t i = 2;
    if (i < args.size() && IsOption(args[i])) {
        if (args[i] != "-R") return Refuse(p, "501", args[i] + ": Invalid option.");
        p.recursive = true;
        ++i;
    }
    if (args.size() < i + 2) {
        p.local = true;
        return;
    }
    p.before = "SITE " + std::string(name) + (p.recursive ? " -R " : " ") + args[i] + ' ';
    p.typed = Join(args, 0, i + 1);
    p.exactAliasDirectory = true;
}

void PlanNew(AliasSiteLine& p, const Args& args) {
    size_t i = 2;
    p.before = "SITE NEW ";
    if (i < args.size() && AllDigits(args[i])) {
        const long count = std::min(std::strtol(args[i].c_str(), nullptr, 10), kMaxNewCount);
        p.before = StringUtil::Format("SITE NEW %ld ", count);
        ++i;
    }
    p.typed = i < args.size() ? Join(args, 0, i) : "./";
    p.directory = true;
}

void PlanNuke(AliasSiteLine& p, std::string_view name, const Args& args) {
    if (args.size() < 4) {
        p.local = true;
        return;
    }
    size_t used = 0;
    if (!Braced(p, args, 2, "No directory was specified", used)) return;
    p.directory = true;
    p.before = "SITE " + std::string(name) + " {";
    p.after = "} " + Join(args, 0, 2 + used);
}

void PlanSearch(AliasSiteLine& p, const Args& args) {
    if (args.size() < 3) {
        p.local = true;
        return;
    }
    size_t i = 2;
    std::string files, links;
    long limit = -1;
    for (; i < args.size() && IsOption(args[i]); ++i) {
        if (args[i] == "-f") {
            files = "-f";
        } else if (args[i] == "-l") {
            links = "-l";
        } else if (AllDigits(std::string_view(args[i]).substr(1))) {
            limit = std::strtol(args[i].c_str() + 1, nullptr, 10);
        } else {
            break;
        }
    }
    p.typed = "./";
    if (i < args.size() && !args[i].empty() && args[i][0] == '{') {
        size_t used = 0;
        if (!Braced(p, args, i, "No directory was specified.", used)) return;
        i += used;
    }
    p.directory = true;
    p.before = limit < 0 ? StringUtil::Format("SITE SEARCH %s %s {", files.c_str(), links.c_str())
                         : StringUtil::Format("SITE SEARCH %s %s -%ld {", files.c_str(),
                                              links.c_str(), limit);
    p.after = "} " + Join(args, 0, i);
}

}  // namespace

std::string AliasSiteLine::Line(const std::string& remote) const {
    if (bareAtRoot && remote == "/") {
        std::string bare = before;
        while (!bare.empty() && bare.back() == ' ') bare.pop_back();
        return bare + after;
    }
    return before + remote + after;
}

AliasSiteLine PlanAliasSiteLine(std::string_view name, const Args& args) {
    AliasSiteLine p;
    if (name == "CHMOD" || name == "CHOWN") {
        PlanOwnerOrMode(p, name, args);
    } else if (name == "NEW") {
        PlanNew(p, args);
    } else if (name == "NUKE" || name == "UNNUKE") {
        PlanNuke(p, name, args);
    } else if (name == "SEARCH") {
        PlanSearch(p, args);
    } else if (name == "DIRINFO") {
        for (size_t i = 2; i < args.size(); ++i)
            if (args[i] == "-R") p.recursive = true;
        p.typed = Join(args, '-', 2);
        p.directory = true;
        p.before = p.recursive ? "SITE DIRINFO -R " : "SITE DIRINFO ";
    } else if (name == "DIRMIRROR" || name == "FRATIO") {
        // A leading number is the new value, not the path.
        const size_t first = args.size() > 3 && StringUtil::IsInteger(args[2]) ? 3 : 2;
        p.typed = Join(args, 0, first);
    } else {
        // DELTREE, DISKINFO, DUPEENABLE, PURGETREE, RESTREE, WIPE.
        p.typed = Join(args, 0, 2);
        p.directory = name != "WIPE";
        p.bareAtRoot = name == "PURGETREE" || name == "RESTREE";
        p.before = "SITE " + std::string(name) + ' ';
    }
    if (p.errorCode.empty() && p.typed.empty()) p.local = true;
    return p;
}

}  // namespace orvex
