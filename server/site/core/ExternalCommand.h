#pragma once
// What custom commands and scripts hand to the program runner, and how their output becomes
// reply lines. Pure functions, so that every client-controlled path through them can be fuzzed.

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// The words of an arguments template: split at blanks; a pair of double or single quotes keeps
// blanks inside one word and is itself dropped. An unclosed quote runs to the end.
std::vector<std::string> SplitTemplateWords(std::string_view tmpl);

// The argument vector that runs `program` (OS form) with `arguments`. A program whose extension
// begins with ".sh" (any case) is a script for bash: the bash beside it when there is one, else
// /bin/bash.
std::vector<std::string> ProgramArgv(const std::string& program,
                                     const std::vector<std::string>& arguments);

// What custom commands and scripts run with instead of the server's own environment: PATH,
// HOME, SHELL and LANG fixed, and TZ passed on when the server has one, so local times agree.
std::vector<std::string> ScriptEnvironment();

// Output as lines without their line ends, each cut into pieces of at most `piece` characters.
// A last line without a line end counts; nothing after the last line end does.
std::vector<std::string> OutputLines(std::string_view output, size_t piece);

// A pre script's output as the client sees it, and whether the command may run. Every line is
// a continuation line of the reply that ends it: of the script's own final line when the script
// refuses the command, else of the command's first reply.
struct ScriptVerdict {
    std::vector<std::string> lines;
    bool allow = true;
    // When refusing: the code of the reply and the text of its final line.
    std::string code;
    std::string finalText;
};

// Each line's first three characters are its reply code: "ddd text" is a final line (ending the
// relay), "ddd-text" a continuation, "ddd" alone an empty line; a line without a numeric code is
// text as it stands. The script refuses the command when the last line read has a 4xx or 5xx
// code; "Command failed." then closes the reply unless that line was final. Lines of any other
// code only lend their text, so that the command's own reply ends them.
ScriptVerdict RelayScriptOutput(std::string_view output);

}  // namespace orvex
