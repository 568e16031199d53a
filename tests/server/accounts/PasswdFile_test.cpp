#include "server/accounts/PasswdFile.h"

#include <gtest/gtest.h>

#include "server/accounts/GroupFile.h"

namespace orvex {
namespace {

const std::string kRoot = "\\srv\\site\\";

KeyedList<Account> ParsePasswd(const std::string& text) {
    KeyedList<Account> list(kPasswdListName);
    ParsePasswdFile(text, kRoot, list);
    return list;
}

TEST(PasswdFileRead, FieldCountsAndComments) {
    auto list = ParsePasswd(
        "# Username;EncryptedPassword;UserID;GroupID;DateAdded;HomeDir\n"
        "five;AB;101;100;01-02-03\n"          // five fields: ignored
        "six;AB;102;100;01-02-03;\n"          // empty sixth field: accepted
        "#hidden;AB;103;100;01-02-03;/x/\n"   // comment line
        "tab\tAB\t104\t100\t01-02-03\t/t/\n"  // a tab separates too
        ";AB;105;100;01-02-03;/x/\n"          // no name
        "seven;AB;106;100;01-02-03;/h/;extra\r\n");
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_FALSE(list.FindName("five", true));
    ASSERT_TRUE(list.FindName("six", true));
    EXPECT_EQ(list.FindName("six", true)->data.home, "");
    EXPECT_EQ(list.FindName("tab", true)->data.home, "\\t\\");
    EXPECT_EQ(list.FindName("seven", true)->data.home, "\\h\\");
}

TEST(PasswdFileRead, FirstOfTwoNamesWins) {
    auto list = ParsePasswd("bob;AAAA;101;100;d;/a/\nBOB;BBBB;102;100;d;/b/\n");
    ASSERT_EQ(list.Count(), 1u);
    const auto* n = list.FindName("Bob", true);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->data.password, "AAAA");
    EXPECT_EQ(n->id, 101);
}

TEST(PasswdFileRead, IdsAndFieldLimits) {
    auto list =
        ParsePasswd("zero;P;0;100;d;/a/\nword;P;abc;100;d;/a/\nbig;P;123456789012345678;1;d;/a/\n" +
                    std::string(70, 'n') + ";P;5;5;d;/a/\n");
    EXPECT_EQ(list.FindName("zero", true)->id, 100);
    EXPECT_EQ(list.FindName("word", true)->id, 100);
    EXPECT_EQ(list.FindName("big", true)->data.uid, "123456789012345");
    EXPECT_TRUE(list.FindName(std::string(63, 'n'), true));
}

TEST(PasswdFileRead, HomeForms) {
    EXPECT_EQ(ReadHomeField("./home/bob", kRoot), "\\srv\\site\\home\\bob\\");
    EXPECT_EQ(ReadHomeField(".\\home\\bob\\", kRoot), "\\srv\\site\\home\\bob\\");
    EXPECT_EQ(ReadHomeField("./", kRoot), kRoot);
    EXPECT_EQ(ReadHomeField("/data/ftp", kRoot), "\\data\\ftp\\");
    EXPECT_EQ(ReadHomeField("data/ftp/", kRoot), "\\data\\ftp\\");
    EXPECT_EQ(ReadHomeField("C:\\ftp", kRoot), "C:\\ftp\\");
    EXPECT_EQ(ReadHomeField("", kRoot), "");
    EXPECT_EQ(ReadHomeField("./x", ""), "");  // no root to put it under
    EXPECT_LE(ReadHomeField("/" + std::string(400, 'd'), kRoot).size(), kAccountHomeMax);
    // A home of the full field size reads back unchanged.
    const std::string full = "\\" + std::string(kAccountHomeMax - 2, 'h') + "\\";
    EXPECT_EQ(ReadHomeField(full, kRoot), full);
}

TEST(PasswdFileWrite, HomesUnderTheRootAreWrittenRelative) {
    Account a{"bob", "ABCD", "101", "100", "01-02-03", "\\srv\\site\\home\\bob\\"};
    EXPECT_EQ(FormatPasswdLine(a, kRoot), "bob;ABCD;101;100;01-02-03;./home/bob/\n");
    a.home = "\\elsewhere\\bob\\";
    EXPECT_EQ(FormatPasswdLine(a, kRoot), "bob;ABCD;101;100;01-02-03;\\elsewhere\\bob\\\n");
    a.home = "\\SRV\\site\\bob\\";  // another directory on a case-sensitive disk
    EXPECT_EQ(FormatPasswdLine(a, kRoot), "bob;ABCD;101;100;01-02-03;\\SRV\\site\\bob\\\n");

    KeyedList<Account> list(kPasswdListName);
    list.Create(101, "bob", Account{"bob", "ABCD", "101", "100", "d", kRoot});
    const std::string file = FormatPasswdFile(list, kRoot);
    EXPECT_EQ(file,
              "# Username;EncryptedPassword;UserID;GroupID;DateAdded;HomeDir\n"
              "# NOTE: The \"HomeDir\" is the absolute path of the user's root dir.\n"
              "#\n"
              "bob;ABCD;101;100;d;./\n");
    auto back = ParsePasswd(file);
    ASSERT_EQ(back.Count(), 1u);
    EXPECT_EQ(back.begin()->data.home, kRoot);
}

TEST(GroupFileRead, FieldsCutsAndDuplicates) {
    KeyedList<GroupRecord> list(kGroupListName);
    ParseGroupFile(
        "# GroupAbbr;GroupDesc;GroupID;Logins\n#\n"
        "staff;The staff;101;3\n"
        "STAFF;again;102;0\n"
        "three;fields;103\n"
        "averyveryverylonggroupname;" +
            std::string(90, 'd') +
            ";1234567890123456789;x\n"
            "zero;z;0;2\n",
        list);
    ASSERT_EQ(list.Count(), 3u);
    const auto* staff = list.FindName("Staff", true);
    ASSERT_TRUE(staff);
    EXPECT_EQ(staff->data.logins, 3u);
    EXPECT_EQ(staff->id, 101);
    const auto* longName = list.FindName("averyveryverylon", true);
    ASSERT_TRUE(longName);
    EXPECT_EQ(longName->data.description.size(), 79u);
    EXPECT_EQ(longName->data.id, "123456789012345");
    EXPECT_EQ(longName->data.logins, 0u);
    EXPECT_EQ(list.FindName("zero", true)->id, 100);
    EXPECT_EQ(FormatGroupLine(staff->data), "staff;The staff;101;3\n");
}

}  // namespace
}  // namespace orvex
