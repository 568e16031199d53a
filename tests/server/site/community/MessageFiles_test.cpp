// Moving messages between inbox and trash loses nothing to a message that arrives meanwhile or
// to a target that cannot be written (the bytes themselves: message_file_fuzz).

#include "server/site/community/MessageFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountsTestDir.h"

namespace orvex {
namespace {

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
