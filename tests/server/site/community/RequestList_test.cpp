// The requests file: how its lines read, and adding and filling that never lose a request.

#include "server/site/community/RequestList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/os/AtomicFile.h"
#include "engine/os/FileLock.h"
#include "server/accounts/AccountsTestDir.h"

namespace orvex {
namespace {

TEST(RequestList, LinesAsTheyRead) {
    const std::string title80(80, 't');
    struct Case {
        const char* text;
        std::vector<RequestEntry> read;
    };
    const std::string longLine = "u;1;" + title80 + "\n";
    const Case cases[] = {
        {"", {}},
        {"alice;1700000000;A film\n", {{"alice", 1700000000, "A film"}}},
        {"alice;17;one\r\nbob;18;two", {{"alice", 17, "one"}, {"bob", 18, "two"}}},
        // Too few fields: skipped, and the numbers count only the lines read.
        {"junk\n;\nbob;5;x\n", {{"bob", 5, "x"}}},
        {"a;b;c;d\n", {{"a", 0, "c"}}},
        {"a;;\n", {{"a", 0, ""}}},
        {"a\t9\tTabbed title\n", {{"a", 9, "Tabbed title"}}},
        {"a;12abc;x #not a comment\n", {{"a", 12, "x #not a comment"}}},
        {longLine.c_str(), {{"u", 1, title80.substr(0, 79)}}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseRequests(c.text), c.read) << c.text;
    const RequestEntry r{"bob", 1700000000, "A film"};
    EXPECT_EQ(FormatRequest(r), "bob;1700000000;A film\n");
    EXPECT_EQ(ParseRequests(FormatRequest(r)), std::vector<RequestEntry>{r});
}

class RequestFileTest : public ::testing::Test {
  protected:
    testing::ScratchDir dir_;
    Lock lock_;
    RequestFile file_{dir_.Internal("requests"), lock_};
    RequestEntry filled_;
    std::function<bool(const RequestEntry&)> logged_ = [](const RequestEntry&) { return true; };
};

TEST_F(RequestFileTest, FillingRenumbersTheRest) {
    EXPECT_TRUE(file_.List().empty());
    EXPECT_EQ(file_.Take(1, filled_, logged_), RequestFile::Fill::kUnreadable);
    dir_.Write("requests", "a;1;first\nb;2;second");  // a last line without its line end
    ASSERT_TRUE(file_.Add({"c", 3, "third"}));
    ASSERT_EQ(file_.List().size(), 3u);
    for (long bad : {0L, -1L, 4L})
        EXPECT_EQ(file_.Take(bad, filled_, logged_), RequestFile::Fill::kNoSuchRequest);
    // A log that fails keeps the request.
    EXPECT_EQ(file_.Take(2, filled_, [](const RequestEntry&) { return false; }),
              RequestFile::Fill::kNotMoved);
    EXPECT_EQ(file_.List().size(), 3u);
    ASSERT_EQ(file_.Take(2, filled_, logged_), RequestFile::Fill::kFilled);
    EXPECT_EQ(filled_, (RequestEntry{"b", 2, "second"}));
    EXPECT_EQ(dir_.Read("requests"), "a;1;first\nc;3;third\n");
}

TEST_F(RequestFileTest, ACrashDuringTheRewriteKeepsEveryRequest) {
    dir_.Write("requests", "a;1;first\nb;2;second\n");
    InterruptRewritesForTesting(true);
    EXPECT_EQ(file_.Take(1, filled_, logged_), RequestFile::Fill::kNotMoved);
    InterruptRewritesForTesting(false);
    EXPECT_EQ(dir_.Read("requests"), "a;1;first\nb;2;second\n");
}

TEST_F(RequestFileTest, AnotherProgramsLockLeavesTheFileAlone) {
    dir_.Write("requests", "a;1;first\n");
    std::atomic<bool> held{false}, done{false};
    std::thread editor([&] {
        const FileLock lock(dir_.Internal("requests"));
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SetFileLockWaitForTesting(50);
    EXPECT_FALSE(file_.Add({"b", 2, "second"}));
    EXPECT_EQ(file_.Take(1, filled_, logged_), RequestFile::Fill::kUnreadable);
    SetFileLockWaitForTesting(-1);
    done = true;
    editor.join();
    EXPECT_EQ(dir_.Read("requests"), "a;1;first\n");
}

TEST_F(RequestFileTest, ARequestAddedDuringAFillIsKept) {
    dir_.Write("requests", "a;1;first\nb;2;second\n");
    std::atomic<bool> added{false};
    std::thread adder;
    // The fill is between its read and its rewrite while the other user adds a request.
    const RequestFile::Fill result = file_.Take(1, filled_, [&](const RequestEntry&) {
        adder = std::thread([&] { added = file_.Add({"c", 3, "third"}); });
        for (int i = 0; i < 20 && !added; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    });
    adder.join();
    EXPECT_EQ(result, RequestFile::Fill::kFilled);
    EXPECT_TRUE(added);
    EXPECT_EQ(dir_.Read("requests"), "b;2;second\nc;3;third\n");
}

}  // namespace
}  // namespace orvex
