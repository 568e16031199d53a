#include "server/site/core/ExternalCommand.h"

#include <unistd.h>

#include <cstdlib>

#include "engine/StringUtil.h"

namespace orvex {

namespace {

constexpr size_t kScriptLine = 255;
constexpr const char* kSystemBash = "/bin/bash";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsCode(std::string_view code) {
    if (code.size() != 3) return false;
    for (char c : code)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsShellScript(const std::string& program) {
    const size_t slash = program.rfind('/');
    const size_t dot = program.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    return StringUtil::CompareNoCaseN(std::string_view(program).substr(dot), ".sh", 3) == 0;
}

}  // namespace

std::vector<std::string> SplitTemplateWords(std::string_view tmpl) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < tmpl.size()) {
        while (i < tmpl.size() && IsBlank(tmpl[i])) ++i;
        if (i == tmpl.size()) break;
        std::string word;
        char quote = 0;
        for (; i < tmpl.size() && (quote != 0 || !IsBlank(tmpl[i])); ++i) {
            const char c = tmpl[i];
            if (quote != 0 && c == quote) {
                quote = 0;
            } else if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else {
                word.push_back(c);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> ProgramArgv(const std::string& program,
                                     const std::vector<std::string>& arguments) {
    std::vector<std::string> argv;
    if (IsShellScript(program)) {
        const size_t slash = program.rfind('/');
        std::string beside =
            (slash == std::string::npos ? std::string() : program.substr(0, slash + 1)) + "bash";
        argv.push_back(access(beside.c_str(), X_OK) == 0 ? beside : std::string(kSystemBash));
    }
    argv.push_back(program);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

std::vector<std::string> ScriptEnvironment() {
    std::vector<std::string> env{"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=/", "SHELL=/bin/sh",
                                 "LANG=C"};
    if (const char* tz = std::getenv("TZ")) env.push_back(std::string("TZ=") + tz);
    return env;
}

std::vector<std::string> OutputLines(std::string_view output, size_t piece) {
    std::vector<std::string> lines;
    if (piece == 0) return lines;
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        std::string_view line =
            output.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? output.size() : end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t from = 0;
        do {
            lines.emplace_back(line.substr(from, piece));
            from += piece;
        } while (from < line.size());
    }
    return lines;
}

ScriptVerdict RelayScriptOutput(std::string_view output) {
    ScriptVerdict verdict;
    std::string lastCode;
    bool lastFinal = false;
    for (const std::string& line : OutputLines(output, kScriptLine)) {
        const std::string code = line.substr(0, 3);
        lastCode = code;
        lastFinal = false;
        if (!IsCode(code)) {
            // A line too short to hold a code, of digits only, carries nothing.
            if (line.size() < 3 && line.find_first_not_of("0123456789") == std::string::npos)
                continue;
            verdict.lines.push_back(line);
            continue;
        }
        const std::string text = line.size() > 4 ? line.substr(4) : std::string();
        if (line.size() <= 3 || line[3] != ' ') {
            verdict.lines.push_back(text);
            continue;
        }
        lastFinal = true;
        // Only a refusal may end the reply: otherwise the command answers for itself.
        if (code[0] == '4' || code[0] == '5') {
            verdict.finalText = text;
            break;
        }
        verdict.lines.push_back(text);
        break;
    }
    if (IsCode(lastCode) && (lastCode[0] == '4' || lastCode[0] == '5')) {
        verdict.allow = false;
        verdict.code = lastCode;
        if (!lastFinal) verdict.finalText = "Command failed.";
    }
    return verdict;
}

}  // namespace orvex
