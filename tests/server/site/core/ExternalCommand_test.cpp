#include "server/site/core/ExternalCommand.h"

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
    struct Case {
        const char* output;
        Words lines;       // continuation lines, of the reply that ends them
        const char* code;  // refused: the reply's code and its final text
        const char* final;
    };
    const Case cases[] = {
        {"", {}, "", ""},
        {"just text\n", {"just text"}, "", ""},
        {"-12 not a code\n", {"-12 not a code"}, "", ""},
        {"12\n4\n\n", {}, "", ""},  // too short for a code: nothing
        {"200\n", {""}, "", ""},
        // A 1xx-3xx final line does not end the reply: the command still answers.
        {"200-a\n200 b\n200 never\n", {"a", "b"}, "", ""},
        {"150 wait\n", {"wait"}, "", ""},
        {"550 no\n200 never\n", {}, "550", "no"},
        {"450 busy\r\n", {}, "450", "busy"},
        {"550-no\n", {"no"}, "550", "Command failed."},
        {"250-a\n550-b", {"a", "b"}, "550", "Command failed."},
        {"550", {""}, "550", "Command failed."},
        // Plain lines before a refusal belong to the refusal's reply.
        {"checking wipe: SITE WIPE /x\n550 Wiping is disabled.\n",
         {"checking wipe: SITE WIPE /x"},
         "550",
         "Wiping is disabled."},
        {"550-x\n200-y\n", {"x", "y"}, "", ""},
        {"550-x\nplain\n", {"x", "plain"}, "", ""},
    };
    for (const Case& c : cases) {
        const ScriptVerdict v = RelayScriptOutput(c.output);
        EXPECT_EQ(v.lines, c.lines) << c.output;
        EXPECT_EQ(v.allow, *c.code == 0) << c.output;
        EXPECT_EQ(v.code, c.code) << c.output;
        EXPECT_EQ(v.finalText, c.final) << c.output;
    }
    // Lines are read in pieces of 255 characters; the rest is a line of its own.
    const ScriptVerdict v = RelayScriptOutput("200-" + std::string(300, 'y'));
    EXPECT_EQ(v.lines, (Words{std::string(251, 'y'), std::string(49, 'y')}));
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
