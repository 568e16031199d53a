// Moving messages between inbox and trash: bytes kept as they are, nothing lost to a message
// that arrives meanwhile or to a target that cannot be written.

#include "server/session/MessageFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountsTestDir.h"

namespace orvex {
namespace {

TEST(MessageFiles, MoveKeepsEveryByteAndAppends) {
    testing::ScratchDir dir;
    const std::string inbox = dir.Internal("msgs\\bob"), trash = dir.Internal("msgs\\bob.purge");
    const std::string longLine(300, 'x');
    const std::string first = "\nFrom: a (t)\n" + longLine + "\r\nno line end";
    dir.Write("msgs/bob", first);
    dir.Write("msgs/bob.purge", "old\n");
    ASSERT_TRUE(MoveMessages(inbox, trash));
    EXPECT_EQ(dir.Read("msgs/bob.purge"), "old\n" + first);
    EXPECT_FALSE(std::filesystem::exists(dir.Os("msgs/bob")));
    // Nothing to move: nothing changes.
    EXPECT_FALSE(MoveMessages(inbox, trash));
    EXPECT_EQ(dir.Read("msgs/bob.purge"), "old\n" + first);
    ASSERT_TRUE(MoveMessages(trash, inbox));
    EXPECT_EQ(dir.Read("msgs/bob"), "old\n" + first);
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Os("msgs"))->path().filename(), "bob");
}

TEST(MessageFiles, AMessageArrivingWhileOthersMoveStays) {
    testing::ScratchDir dir;
    const std::string inbox = dir.Internal("msgs\\bob"), trash = dir.Internal("msgs\\bob.purge");
    dir.Write("msgs/bob", "first\n");
    const std::optional<std::string> taken = TakeMessages(inbox);
    ASSERT_TRUE(taken);
    ASSERT_TRUE(AppendRecord(inbox, "second\n"));
    ASSERT_TRUE(PutMessages(*taken, trash, inbox));
    EXPECT_EQ(dir.Read("msgs/bob.purge"), "first\n");
    EXPECT_EQ(dir.Read("msgs/bob"), "second\n");
}

TEST(MessageFiles, MessagesGoBackWhenTheTargetCannotBeWritten) {
    testing::ScratchDir dir;
    dir.Write("msgs/bob", "kept\n");
    dir.Write("msgs/bob.purge/x", "");  // a folder where the trash should be
    EXPECT_FALSE(MoveMessages(dir.Internal("msgs\\bob"), dir.Internal("msgs\\bob.purge")));
    EXPECT_EQ(dir.Read("msgs/bob"), "kept\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Os("msgs")),
                            std::filesystem::directory_iterator()),
              2);
}

}  // namespace
}  // namespace orvex
