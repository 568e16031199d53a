#include "server/session/ExternalCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace orvex {
namespace {

using Words = std::vector<std::string>;

TEST(ExternalCommand, TemplateWordsHonourQuotes) {
    const std::pair<const char*, Words> cases[] = {
        {"", {}},
        {"  \t ", {}},
        {"a b", {"a", "b"}},
        {"  a\t b  ", {"a", "b"}},
        {"\"%u in %y\" -R=%R", {"%u in %y", "-R=%R"}},
        {"'x y'z", {"x yz"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"\"", {""}},
        {"\"it's\" 'say \"hi\"'", {"it's", "say \"hi\""}},
        {"\"unclosed a  b", {"unclosed a  b"}},
    };
    for (const auto& [text, words] : cases) EXPECT_EQ(SplitTemplateWords(text), words) << text;
}

TEST(ExternalCommand, OutputLinesArePiecesWithoutLineEnds) {
    const std::string longLine(300, 'x');
    const std::pair<std::string, Words> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\n\nb", {"a", "", "b"}},
        {longLine + "\n", {std::string(254, 'x'), std::string(46, 'x')}},
    };
    for (const auto& [text, lines] : cases) EXPECT_EQ(OutputLines(text, 254), lines) << text;
}

TEST(ExternalCommand, PreScriptRelay) {
    using L = RelayedLine;
    struct Case {
        const char* output;
        std::vector<RelayedLine> lines;
        bool allow;
    };
    const Case cases[] = {
        {"", {}, true},
        {"just text\n", {L{"just text", "", 2}}, true},
        {"-12 not a code\n", {L{"-12 not a code", "", 2}}, true},
        {"12\n4\n\n", {}, true},  // too short for a code: nothing
        {"200\n", {L{"", "200", 1}}, true},
        // A 1xx-3xx final line does not end the reply: the command still answers.
        {"200-a\n200 b\n200 never\n", {L{"a", "200", 1}, L{"b", "200", 1}}, true},
        {"150 wait\n", {L{"wait", "150", 1}}, true},
        {"550 no\n200 never\n", {L{"no", "550", 0}}, false},
        {"450 busy\r\n", {L{"busy", "450", 0}}, false},
        {"550-no\n", {L{"no", "550", 1}, L{"Command failed.", "550", 0}}, false},
        {"250-a\n550-b",
         {L{"a", "250", 1}, L{"b", "550", 1}, L{"Command failed.", "550", 0}},
         false},
        {"550", {L{"", "550", 1}, L{"Command failed.", "550", 0}}, false},
        {"550-x\n200-y\n", {L{"x", "550", 1}, L{"y", "200", 1}}, true},
        {"550-x\nplain\n", {L{"x", "550", 1}, L{"plain", "", 2}}, true},
    };
    for (const Case& c : cases) {
        const ScriptVerdict v = RelayScriptOutput(c.output);
        EXPECT_EQ(v.lines, c.lines) << c.output;
        EXPECT_EQ(v.allow, c.allow) << c.output;
    }
    // Lines are read in pieces of 255 characters; the rest is a line of its own.
    const ScriptVerdict v = RelayScriptOutput("200-" + std::string(300, 'y'));
    ASSERT_EQ(v.lines.size(), 2u);
    EXPECT_EQ(v.lines[0].text, std::string(251, 'y'));
    EXPECT_EQ(v.lines[1], (L{std::string(49, 'y'), "", 2}));
}

TEST(ExternalCommand, ShellScriptsRunThroughBash) {
    const Words args{"a;b", "$(x)"};
    EXPECT_EQ(ProgramArgv("/srv/run", args), (Words{"/srv/run", "a;b", "$(x)"}));
    EXPECT_EQ(ProgramArgv("/srv.sh/run", {}), (Words{"/srv.sh/run"}));
    EXPECT_EQ(ProgramArgv("/srv/go.SH", args), (Words{"/bin/bash", "/srv/go.SH", "a;b", "$(x)"}));
    EXPECT_EQ(ProgramArgv("/srv/go.shell", {}), (Words{"/bin/bash", "/srv/go.shell"}));

    // A bash beside the program wins.
    char tmpl[] = "/tmp/orvex-exec-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string bash = dir + "/bash";
    std::ofstream(bash) << "#!/bin/sh\n";
    ASSERT_EQ(chmod(bash.c_str(), 0755), 0);
    EXPECT_EQ(ProgramArgv(dir + "/x.sh", {}), (Words{bash, dir + "/x.sh"}));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvex
