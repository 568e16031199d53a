#include "standalone/UserCreation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "engine/FileUtil.h"
#include "server/accounts/PasswordCipher.h"
#include "standalone/ConsoleInput.h"
#include "standalone/HelpPages.h"

namespace orvex {
namespace {

// A console fed from a string, printing into a temporary file.
class Console {
  public:
    explicit Console(std::string input) : input_(std::move(input)) {
        in_ = fmemopen(input_.data(), input_.size(), "r");
        out_ = tmpfile();
    }
    ~Console() {
        fclose(in_);
        fclose(out_);
    }
    FILE* In() { return in_; }
    FILE* Out() { return out_; }
    std::string Printed() {
        fflush(out_);
        rewind(out_);
        std::string s;
        for (int c; (c = fgetc(out_)) != EOF;) s.push_back(static_cast<char>(c));
        return s;
    }
    std::string Rest() {
        std::string s;
        for (int c; (c = fgetc(in_)) != EOF;) s.push_back(static_cast<char>(c));
        return s;
    }

  private:
    std::string input_;
    FILE* in_;
    FILE* out_;
};

TEST(ConsoleInput, LinesKeepTheirStartAndConsumeTheRest) {
    Console c("abcdefgh\r\nnext\nlast");
    EXPECT_EQ(ConsoleInput::ReadLine(c.In(), 3), "abc");
    EXPECT_EQ(ConsoleInput::ReadLine(c.In(), 63), "next");
    EXPECT_EQ(ConsoleInput::ReadLine(c.In(), 63), "last");
    EXPECT_EQ(ConsoleInput::ReadLine(c.In(), 63), "");  // end of input answers at once
    EXPECT_EQ(ConsoleInput::ReadLine(c.In(), 63), "");
}

TEST(ConsoleInput, SecretsEditAndEndAtEitherLineEnd) {
    Console c("pasx\bs\x7f\x7fss\r\nwo\rrd\n" + std::string(70, 'z'));
    EXPECT_EQ(ConsoleInput::ReadSecret(c.In(), c.Out(), 63), "pass");
    EXPECT_EQ(ConsoleInput::ReadSecret(c.In(), c.Out(), 63), "wo");  // CR alone ends too
    EXPECT_EQ(ConsoleInput::ReadSecret(c.In(), c.Out(), 63), "rd");
    EXPECT_EQ(ConsoleInput::ReadSecret(c.In(), c.Out(), 63), std::string(63, 'z'));
    EXPECT_EQ(ConsoleInput::ReadSecret(c.In(), c.Out(), 63), "");
    EXPECT_EQ(c.Printed(), "\n\n\n\n\n");  // nothing echoed, a line feed after each

    Console erase("\b\b\bab\n");
    EXPECT_EQ(ConsoleInput::ReadSecret(erase.In(), erase.Out(), 63), "ab");
}

TEST(ConsoleInput, PausesTakeOneCharacter) {
    Console c("xyz");
    PrintHelp('F', c.Out(), c.In());
    EXPECT_EQ(c.Rest(), "z");
    const std::string printed = c.Printed();
    const std::string pause = "-- Press ENTER to continue --\n";
    const size_t first = printed.find(pause);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(printed.find(pause, first + 1), std::string::npos);

    Console empty("");
    PrintHelp('F', empty.Out(), empty.In());  // returns at end of input
    EXPECT_EQ(empty.Printed(), printed);
}

class CreateUserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantor-add-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        file_ = dir_ + "/users.cfg";
    }
    void TearDown() override { FileUtil::DeleteTree(dir_, false); }

    std::string FileText() {
        std::ifstream in(file_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir_, file_;
};

TEST_F(CreateUserTest, PromptsAndTheLineAppended) {
    Console c("averyveryverylongname\nsecret\nsecret\n/srv/ftp\nlr\n");
    UserRecord u;
    ASSERT_EQ(CreateUser(c.In(), c.Out(), file_, "/def/", u), Creation::Added);
    EXPECT_EQ(c.Printed(),
              "Enter the user's login: Enter the user's password: \n"
              "Retype the user's password: \n"
              "Enter the user's home directory [/def/]: \n> "
              "Enter the user's permissions [lvcpstduoamn]: \n> \n");
    EXPECT_EQ(u.account.user, "averyveryverylon");  // 16 characters
    const std::string stored = EncryptToHex("secret", u.account.user, "secret", 16);
    EXPECT_EQ(stored.size(), 32u);
    EXPECT_EQ(FileText(), u.account.user + ";" + stored + ";/srv/ftp;lr\n");

    Console d("dan\npw\npw\n\n\n");
    ASSERT_EQ(CreateUser(d.In(), d.Out(), file_, "/def/", u), Creation::Added);
    EXPECT_EQ(FileText(), "averyveryverylon;" + stored + ";/srv/ftp;lr\ndan;" +
                              EncryptToHex("pw", "dan", "pw", 16) + ";/def/;lvcpstduoamn\n");
}

TEST_F(CreateUserTest, PasswordsAreCutTo16) {
    Console c("u\n0123456789abcdefEXTRA\n0123456789abcdefEXTRA\n\n\n");
    UserRecord u;
    ASSERT_EQ(CreateUser(c.In(), c.Out(), file_, "/", u), Creation::Added);
    EXPECT_TRUE(VerifyPassword(u.account.password, "u", "0123456789abcdef"));
}

TEST_F(CreateUserTest, AnswersThatCannotBeStored) {
    UserRecord u;
    Console mismatch("eve\none\ntwo\n");
    EXPECT_EQ(CreateUser(mismatch.In(), mismatch.Out(), file_, "/", u), Creation::Mismatch);
    EXPECT_NE(mismatch.Printed().find("Passwords do not match.\n"), std::string::npos);
    for (const char* input : {"", "\n\n\n\n\n", "a;b\npw\npw\n\n\n", "eve\npw\npw\n/x#y\n\n",
                              "eve\npw\npw\n\nl\tv\n"}) {
        Console c(input);
        EXPECT_EQ(CreateUser(c.In(), c.Out(), file_, "/", u), Creation::Refused) << input;
    }
    EXPECT_EQ(access(file_.c_str(), F_OK), -1);

    Console c("eve\npw\npw\n\n\n");
    EXPECT_EQ(CreateUser(c.In(), c.Out(), dir_ + "/missing/u.cfg", "/", u), Creation::NotWritten);
    EXPECT_NE(c.Printed().find("WARNING: unable to write to file " + dir_ + "/missing/u.cfg.\n"),
              std::string::npos);
}

}  // namespace
}  // namespace orvex
