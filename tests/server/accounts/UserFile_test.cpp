#include "server/accounts/UserFile.h"

#include <gtest/gtest.h>

#include <string>

#include "AccountsTestDir.h"

namespace orvex {
namespace {

using testing::LogLines;

const LocalHome kLocal{"10.0.0.5", 2121};

UserRecord Parse(const std::string& text, bool* ok = nullptr, LogLines* log = nullptr,
                 const std::string& name = "bob") {
    UserRecord r = FreshUserRecord(name, kLocal);
    const bool good = ParseUserFile(text, name, r, log ? AccountLog(log->Sink()) : AccountLog());
    if (ok) *ok = good;
    return r;
}

TEST(UserFileRead, GeneralLineIsRequired) {
    bool ok = true;
    Parse("USER x\nPERMISSIONS lcd\nFLAGS 1\n", &ok);
    EXPECT_FALSE(ok);
    Parse("USER x\nGENERAL 1 2 3\n", &ok);  // too few numbers: not a valid GENERAL
    EXPECT_FALSE(ok);
    Parse("general 1 2 3 4\n", &ok);  // keywords in any case
    EXPECT_TRUE(ok);
}

TEST(UserFileRead, FirstLoginsNumberIsIgnored) {
    UserRecord r = Parse("GENERAL 100 2 300 400\nLOGINS 5 3 7 8\n");
    EXPECT_EQ(r.maxLogins, 2);
    EXPECT_EQ(r.spare, 5);
    EXPECT_EQ(r.maxLoginsPerIp, 3u);
    EXPECT_EQ(r.maxDownloads, 7);
    EXPECT_EQ(r.maxUploads, 8);
    // The next save writes max logins in both places.
    EXPECT_NE(FormatUserFile(r).find("LOGINS 2 3 7 8\n"), std::string::npos);
}

TEST(UserFileRead, DefaultsWithoutOptionalLines) {
    UserRecord r = Parse("GENERAL 0 0 0 0\n");
    EXPECT_EQ(r.maxDownloads, -1);
    EXPECT_EQ(r.maxUploads, -1);
    EXPECT_EQ(r.homeServer, "10.0.0.5");
    EXPECT_EQ(r.homePort, 2121u);
    UserRecord shared = Parse("GENERAL 0 0 0 0\n", nullptr, nullptr, "ann$192.168.1.9$21");
    EXPECT_EQ(shared.homeServer, "192.168.1.9");
    EXPECT_EQ(shared.homePort, 21u);
}

TEST(UserFileRead, StartDirectoryIsMadeRelative) {
    EXPECT_EQ(Parse("GENERAL 0 0 0 0\nDIR /incoming/new\n").startDir, "incoming\\new\\");
    EXPECT_EQ(Parse("GENERAL 0 0 0 0\nDIR \\pub\\\n").startDir, "pub\\");
    EXPECT_EQ(Parse("GENERAL 0 0 0 0\nDIR /\n").startDir, "");
    // It can never climb above the home directory.
    EXPECT_EQ(Parse("GENERAL 0 0 0 0\nDIR ../../etc\n").startDir, "etc\\");
    EXPECT_EQ(Parse("GENERAL 0 0 0 0\nDIR / my  files / new\n").startDir, "my files\\new\\");
    // Too long for the field: whole directories are dropped from the end, never half a name.
    const std::string deep = "GENERAL 0 0 0 0\nDIR " + std::string(40, 'a') + "/" +
                             std::string(30, 'b') + "/" + std::string(20, 'c') + "\n";
    EXPECT_EQ(Parse(deep).startDir, std::string(40, 'a') + "\\" + std::string(30, 'b') + "\\");
}

TEST(UserFileRead, EleventhAddressMaskIsIgnored) {
    std::string text = "GENERAL 0 0 0 0\n";
    for (int i = 1; i <= 11; ++i) text += "IP 10.0.0." + std::to_string(i) + "\n";
    UserRecord r = Parse(text);
    EXPECT_EQ(r.ipMasks[0], "10.0.0.1");
    EXPECT_EQ(r.ipMasks[9], "10.0.0.10");
    const std::string out = FormatUserFile(r);
    EXPECT_NE(out.find("IP 10.0.0.10\n"), std::string::npos);
    EXPECT_EQ(out.find("IP 10.0.0.11"), std::string::npos);
}

TEST(UserFileRead, BadLinesAreLoggedAndSkipped) {
    LogLines log;
    bool ok = false;
    UserRecord r = Parse("GENERAL 1 1 1 1\nBOGUS 1\n\nRATIO\nRATIO 3\n", &ok, &log);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.ratio, 3u);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "bob line 2> Error reading 'BOGUS' in file.");
    EXPECT_EQ(log.lines[1], "bob line 4> Error reading 'RATIO' in file.");
}

TEST(UserFileRead, TextFieldsAndCuts) {
    UserRecord r = Parse(
        "GENERAL 0 0 0 0\nUSER  Added   by\tadmin  # a note\nPERMISSIONS LVCPSTDUOAMNRWX extra\n"
        "FLAGS 1ab4\nGROUP staff other\nTAGLINE " +
        std::string(100, 't') + "\nUSER\n");
    EXPECT_EQ(r.comment, "Added by admin");  // a bare USER line changes nothing
    EXPECT_EQ(r.permissions, "lvcpstduoamnrwx");
    EXPECT_EQ(r.flags, "1AB4");
    EXPECT_EQ(r.group, "staff");
    EXPECT_EQ(r.tagline, std::string(79, 't'));
    EXPECT_EQ(Parse("GENERAL 0 0 0 0\nPERMISSIONS abcdefghijklmnopq\n").permissions,
              "abcdefghijklmno");
}

TEST(UserFileRead, NumbersKeepTheirBits) {
    UserRecord r = Parse(
        "GENERAL -5 12abc x 0\nCREDITS 4294967295\nRATIO -1\nTIME 1 4000000000 0 7\n"
        "ALLUP 99999999999 2 3\n");
    EXPECT_EQ(r.weeklyAllotment, -5);
    EXPECT_EQ(r.maxLogins, 12);  // leading digits count
    EXPECT_EQ(r.maxDownloadSpeed, 0);
    EXPECT_EQ(r.credits, -1);
    EXPECT_EQ(r.ratio, 4294967295u);
    EXPECT_EQ(r.lastLogin, 4000000000u);            // past 2038 without loss
    EXPECT_EQ(r.stats[kAllUp].files, 4294967295u);  // clamped, not wrapped
}

TEST(UserFileRead, LongLinesAreReadInPieces) {
    // The 1024-byte buffer ends a long line; its rest is a line of its own.
    const std::string text = "GENERAL 0 0 0 0\nTAGLINE " + std::string(1100, 'a') + " RATIO 4\n";
    LogLines log;
    UserRecord r = Parse(text, nullptr, &log);
    EXPECT_EQ(r.tagline, std::string(79, 'a'));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("line 3> Error reading"), std::string::npos);
}

TEST(UserFileWrite, RoundTripKeepsEveryStoredField) {
    const std::string text =
        "USER Added by admin\nGENERAL 1000 3 50000 -1\nPERMISSIONS lvcpstdu\n"
        "LOGINS 3 2 -1 4\nTIMEFRAME 9 17\nFLAGS 14AB\nRATIO 3\nCREDITS -20\n"
        "TAGLINE the tag line\nDIR pub\\new\\\nALLUP 1 4000000000 0\nALLDN 2 4000000001 7\n"
        "WKUP 3 4000000002 14\nWKDN 4 4000000003 21\nDAYUP 5 4000000004 28\n"
        "DAYDN 6 4000000005 35\nMONTHUP 7 4000000006 42\nMONTHDN 8 4000000007 49\n"
        "TIME 12 1700000000 60 99\nNUKE 1600000000 2 300\nSLOTS -1 5\nUSET 600\n"
        "GROUP staff\nIP *@127.0.0.1\nIP 10.*\n";
    bool ok = false;
    UserRecord r = Parse(text, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.maxUploadSpeed, -1);
    EXPECT_EQ(r.stats[kMonthDown].kilobytes, 4000000007u);
    EXPECT_EQ(r.reserved, 99u);
    EXPECT_EQ(r.leechSlots, 5);
    EXPECT_EQ(r.ipMasks[1], "10.*");
    EXPECT_EQ(FormatUserFile(r), text);

    // Masks with gaps close up; empty ones are not written.
    r.ipMasks = {};
    r.ipMasks[3] = "192.168.*";
    UserRecord back = Parse(FormatUserFile(r));
    EXPECT_EQ(back.ipMasks[0], "192.168.*");
    EXPECT_EQ(back.ipMasks[3], "");
}

TEST(UserFileWrite, LineBreaksInTextCannotAddLines) {
    UserRecord r = FreshUserRecord("bob", kLocal);
    r.tagline = "hi\nFLAGS 1";
    r.comment = "x\r\nCREDITS 999999";
    LogLines log;
    UserRecord back = Parse(FormatUserFile(r), nullptr, &log);
    EXPECT_EQ(back.flags, "");
    EXPECT_EQ(back.credits, 0);
    EXPECT_EQ(back.tagline, "hi FLAGS 1");
    // No flags are written as "FLAGS " and read back without complaint.
    EXPECT_NE(FormatUserFile(r).find("\nFLAGS \n"), std::string::npos);
    EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace orvex
