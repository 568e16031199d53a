#include "standalone/CommandLine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/FileUtil.h"
#include "server/accounts/PasswordCipher.h"

namespace orvex {
namespace {

// Keeps the program log lines instead of printing them.
class RecordingSite : public StandaloneSite {
  public:
    RecordingSite() { SetProgramLogLevel(2); }
    bool LogProgramLine(std::string_view, std::string_view message) override {
        lines.emplace_back(message);
        return true;
    }
    std::vector<std::string> lines;
};

class CommandLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantor-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        out_ = tmpfile();
        ASSERT_NE(out_, nullptr);
    }
    void TearDown() override {
        fclose(out_);
        FileUtil::DeleteTree(dir_, false);
    }

    int Run(std::vector<std::string> args, const std::string& input = "") {
        inputText_ = input;
        in_.reset(fmemopen(inputText_.data(), inputText_.size(), "r"));
        // Every run starts from a new site, as a new process would.
        cli_.reset();
        siteOwner_ = std::make_unique<RecordingSite>();
        cli_ = std::make_unique<CommandLine>(site(), std::move(args), in_.get(), out_);
        return cli_->Apply(true);
    }

    std::string Printed() {
        fflush(out_);
        rewind(out_);
        std::stringstream s;
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, out_)) > 0)
            s.write(buf, static_cast<std::streamsize>(n));
        return s.str();
    }

    std::string dir_;
    FILE* out_ = nullptr;
    std::string inputText_;
    UniqueFile in_;
    RecordingSite& site() { return *siteOwner_; }

    std::unique_ptr<RecordingSite> siteOwner_ = std::make_unique<RecordingSite>();
    std::unique_ptr<CommandLine> cli_;
};

TEST_F(CommandLineTest, DefaultsMakeTheAnonymousUserWithAnyPassword) {
    ASSERT_EQ(Run({}), -1);
    const ServerSettings& s = cli_->Settings();
    EXPECT_EQ(s.port, "21");
    EXPECT_EQ(s.implicitPort, "0");
    EXPECT_EQ(s.bindIp, "");
    EXPECT_EQ(s.level, 2);
    std::optional<Account> a = site().GetAccount("anonymous");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->gid, "99");
    EXPECT_EQ(a->home, FileUtil::CurrentDir());
    EXPECT_TRUE(site().CheckPermission("anonymous", "", "lvcpstduoamn"));
    EXPECT_TRUE(site().lines.empty());
}

TEST_F(CommandLineTest, PasswordIsKeyedWithTheNameGivenSoFar) {
    ASSERT_EQ(Run({"-Uguest", "-Pabc", "-Rld", "ignored", "-Zunknown"}), -1);
    std::optional<Account> a = site().GetAccount("guest");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->gid, "1");
    EXPECT_EQ(a->password, EncryptToHex("abc", "guest", "abc", 0));
    EXPECT_EQ(a->password.size(), 16u);  // no minimum length on the command line
    EXPECT_TRUE(VerifyPassword(a->password, "guest", "abc"));
    EXPECT_FALSE(site().GetAccount("anonymous"));
    EXPECT_FALSE(site().CheckPermission("guest", "", "p"));

    RecordingSite other;
    CommandLine late(other, {"-Pabc", "-Uguest"}, nullptr, out_);
    ASSERT_EQ(late.Apply(true), -1);
    a = other.GetAccount("guest");
    ASSERT_TRUE(a);
    EXPECT_FALSE(VerifyPassword(a->password, "guest", "abc"));
    EXPECT_TRUE(VerifyPassword(a->password, "anonymous", "abc"));
}

TEST_F(CommandLineTest, ValuesAreCheckedAndCut) {
    const std::string longPassword = "0123456789abcdefXYZ";
    ASSERT_EQ(
        Run({"-p2121", "-pabc", "-b127.0.0.1", "-i", "-L9", "-Lx", "-U" + std::string(70, 'u'),
             "-P" + longPassword, "-R" + std::string(20, 'l'), "-H" + dir_ + "/none"}),
        -1);
    const ServerSettings& s = cli_->Settings();
    EXPECT_EQ(s.port, "2121");
    EXPECT_EQ(s.implicitPort, "990");
    EXPECT_EQ(s.bindIp, "127.0.0.1");
    EXPECT_EQ(s.level, 2);
    const UserRecord& u = cli_->CommandLineUser();
    EXPECT_EQ(u.account.user, std::string(63, 'u'));
    EXPECT_TRUE(VerifyPassword(u.account.password, u.account.user, "0123456789abcdef"));
    EXPECT_EQ(u.permissions, std::string(15, 'l'));
    EXPECT_EQ(u.account.home, FileUtil::CurrentDir());
    EXPECT_EQ(site().lines,
              std::vector<std::string>{"WARNING: invalid home directory \"" + dir_ + "/none\"."});

    Run({"-p" + std::string(20, '9'), "-i2990x", "-L5", "-H" + dir_});
    EXPECT_EQ(cli_->Settings().port, std::string(15, '9'));
    EXPECT_EQ(cli_->Settings().implicitPort, "2990x");
    EXPECT_EQ(cli_->Settings().level, 5);
    std::string home = dir_;
    FileUtil::ToBackslashes(home);
    EXPECT_EQ(cli_->CommandLineUser().account.home, home + "\\");
}

TEST_F(CommandLineTest, PortRangeWarnings) {
    ASSERT_EQ(Run({"-r5000", "-rabc-10", "-r10-x", "-r0-10", "-r00-10", "-r1-65535", "-r6000-5000",
                   "-r99999999999999999999-2"}),
              -1);
    const std::string noDash =
        "WARNING: invalid port range, no \"-\" was found (using default = any).";
    const std::string bounds =
        "WARNING: port numbers must be between 1 and 65534 (using default = any).";
    EXPECT_EQ(
        site().lines,
        (std::vector<std::string>{
            noDash, "WARNING: invalid port range \"abc-10\" (using default = any).",
            "WARNING: invalid port range \"10-x\" (using default = any).", bounds, bounds, bounds,
            "WARNING: invalid port range \"6000-5000\" (using default = any).", bounds}));
    EXPECT_TRUE(site().PassivePorts().empty());

    site().lines.clear();
    Run({"-r5000-5002"});
    EXPECT_TRUE(site().lines.empty());
    EXPECT_EQ(site().PassivePorts(), (std::vector<uint16_t>{5002, 5001, 5000}));
}

TEST_F(CommandLineTest, UserFileReplacesTheCommandLineUser) {
    const std::string home = dir_ + "/h";
    ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
    const std::string file = dir_ + "/u.cfg";
    std::ofstream(file) << "alice;" << StoredPassword("alice", "pw") << ";" << home << ";lv\n";
    ASSERT_EQ(Run({"-Ubob", "-f" + file, "-Pbob"}), -1);
    EXPECT_TRUE(cli_->UserFileGiven());
    EXPECT_TRUE(site().GetAccount("alice"));
    EXPECT_FALSE(site().GetAccount("bob"));
    EXPECT_FALSE(site().GetAccount("anonymous"));
    EXPECT_EQ(site().lines,
              std::vector<std::string>{"1 user(s) were loaded from the file " + file + "."});

    // A reload reads the file again and never adds the command-line user.
    std::ofstream(file) << "carl;" << StoredPassword("carl", "pw") << ";" << home << ";lv\n";
    site().lines.clear();
    EXPECT_EQ(cli_->Apply(false), -1);
    EXPECT_FALSE(site().GetAccount("alice"));
    EXPECT_TRUE(site().GetAccount("carl"));
    EXPECT_EQ(site().UserCount(), 1u);

    unlink(file.c_str());
    site().lines.clear();
    cli_->Apply(false);
    EXPECT_EQ(site().UserCount(), 0u);
    EXPECT_EQ(site().lines, (std::vector<std::string>{
                                "WARNING: unable to open file \"" + file + "\" for reading.",
                                "0 user(s) were loaded from the file " + file + "."}));
}

TEST_F(CommandLineTest, LogPathsAndFormats) {
    ASSERT_EQ(Run({"-L4:" + dir_, "-Fp:%S|%M", "-Fd:%Y", "-Fq:x", "-Fa"}), -1);
    EXPECT_EQ(cli_->Settings().level, 4);
    EXPECT_TRUE(site().lines.empty());
    StandaloneSite& base = site();
    base.SetProgramLogLevel(4);
    // Written through the base writer to see the file and the format.
    base.StandaloneSite::LogProgramLine("MAIN", "hello");
    base.FlushLogs();
    std::ifstream in(dir_ + "/ftpd.log");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "MAIN|hello");

    site().lines.clear();
    Run({"-L3:" + dir_ + "/missing"});
    EXPECT_EQ(cli_->Settings().level, 3);
    EXPECT_EQ(site().lines,
              (std::vector<std::string>{"WARNING: unable to set the program log path.",
                                        "WARNING: unable to set the access log path."}));
}

TEST_F(CommandLineTest, AddingAUserStopsBeforeTheServer) {
    const std::string file = dir_ + "/new.cfg";
    ASSERT_EQ(Run({"-a" + file, "-p2121"}, "zoe\nsecret\nsecret\n/tmp\nlv\n"), 0);
    EXPECT_EQ(cli_->Settings().port, "2121");  // the other options were still applied
    EXPECT_EQ(site().lines, std::vector<std::string>{"User zoe was successfully added."});
    EXPECT_EQ(site().UserCount(), 0u);
    std::ifstream in(file);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "zoe;" + StoredPassword("zoe", "secret") + ";/tmp;lv");
    EXPECT_EQ(Printed().find("secret"), std::string::npos);
}

TEST_F(CommandLineTest, FailedAdditions) {
    EXPECT_EQ(Run({"-a" + dir_ + "/x.cfg"}, "zoe\none\ntwo\n"), 1);
    EXPECT_NE(Printed().find("Passwords do not match.\n"), std::string::npos);

    // An unwritable file: the server starts as if no user had been added.
    const std::string bad = dir_ + "/no/dir.cfg";
    EXPECT_EQ(Run({"-a" + bad, "-Ukim"}, "zoe\npw\npw\n\n\n"), -1);
    EXPECT_NE(Printed().find("WARNING: unable to write to file " + bad + ".\n"), std::string::npos);
    EXPECT_TRUE(site().GetAccount("kim"));

    // A reload never asks again.
    EXPECT_EQ(cli_->Apply(false), -1);
    EXPECT_EQ(access((dir_ + "/x.cfg").c_str(), F_OK), -1);
}

}  // namespace
}  // namespace orvex
