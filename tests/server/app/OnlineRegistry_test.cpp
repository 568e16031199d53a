// The registry of logged-in connections, with real sessions on socket pairs.

#include "server/app/OnlineRegistry.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/FtpSession.h"
#include "engine/FtpSite.h"

namespace orvex {
namespace {

class RegistryTest : public ::testing::Test {
  protected:
    ~RegistryTest() override {
        for (int fd : peers_) close(fd);
    }

    FtpSession& NewSession() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        peers_.push_back(fds[1]);
        sessions_.push_back(std::make_unique<FtpSession>(fds[0], site_, nullptr, false));
        return *sessions_.back();
    }

    uint32_t Login(const std::string& user, const std::string& ip = "10.0.0.1") {
        return registry_.Register(user, &NewSession(), ip);
    }

    FtpSite site_;
    OnlineRegistry registry_;
    std::vector<int> peers_;
    std::vector<std::unique_ptr<FtpSession>> sessions_;
};

TEST_F(RegistryTest, EveryQueryIsEmptyBeforeTheFirstLogin) {
    EXPECT_EQ(registry_.CountOnline(), 0u);
    EXPECT_FALSE(registry_.CopyRecord(1));
    EXPECT_FALSE(registry_.UserName(1));
    EXPECT_FALSE(registry_.LastTransferCommand(1));
    EXPECT_FALSE(registry_.Touch(1, "NOOP"));
    EXPECT_EQ(registry_.NoteTransfer(1, "RETR x"), 0);
    EXPECT_FALSE(registry_.Unregister(1));
    EXPECT_FALSE(registry_.Kill(1));
    EXPECT_EQ(registry_.KickUser("alice", 0), 0);
    EXPECT_EQ(registry_.CountLogins("alice"), 0);
    EXPECT_EQ(registry_.CountTransfers("alice", 0), 0);
    EXPECT_TRUE(registry_.SessionsOf("alice").empty());
    const KeyedList<OnlineRecord> snap = registry_.Snapshot(OnlineKind::All);
    EXPECT_EQ(snap.ListName(), "online userlist header");
    EXPECT_TRUE(snap.Empty());
}

TEST_F(RegistryTest, NumbersFollowTheHighestOnline) {
    EXPECT_EQ(Login("alice"), 1u);
    EXPECT_EQ(Login("bob"), 2u);
    ASSERT_TRUE(registry_.Unregister(2));
    EXPECT_EQ(Login("carol"), 2u);  // the highest number is reused once it has gone
    ASSERT_TRUE(registry_.Unregister(1));
    EXPECT_EQ(Login("dave"), 3u);  // a gap below the highest is not
    EXPECT_EQ(registry_.CountOnline(), 2u);
    EXPECT_FALSE(registry_.Unregister(1));
}

TEST_F(RegistryTest, MissingArgumentsRegisterNothing) {
    EXPECT_EQ(registry_.Register("", &NewSession(), "10.0.0.1"), 0u);
    EXPECT_EQ(registry_.Register("alice", nullptr, "10.0.0.1"), 0u);
    EXPECT_EQ(registry_.Register("alice", &NewSession(), ""), 0u);
    EXPECT_EQ(registry_.CountOnline(), 0u);
    EXPECT_EQ(Login("alice"), 1u);
}

TEST_F(RegistryTest, ConcurrentLoginsGetDistinctNumbers) {
    for (int i = 0; i < 40; ++i) NewSession();
    std::vector<uint32_t> got(40);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t]() {
            for (int i = t; i < 40; i += 4)
                got[i] = registry_.Register("u" + std::to_string(i), sessions_[i].get(), "1.2.3.4");
        });
    }
    for (auto& th : threads) th.join();
    const std::set<uint32_t> distinct(got.begin(), got.end());
    EXPECT_EQ(distinct.size(), 40u);
    EXPECT_EQ(*distinct.begin(), 1u);
    EXPECT_EQ(*distinct.rbegin(), 40u);
}

TEST_F(RegistryTest, StampsAreCutAndNeverHoldAPassword) {
    const uint32_t n = Login("alice");
    const auto before = registry_.CopyRecord(n);
    ASSERT_TRUE(before);
    EXPECT_GT(before->loginTime, 0);
    EXPECT_EQ(before->lastActive, before->loginTime);
    EXPECT_EQ(before->clientIp, "10.0.0.1");
    EXPECT_TRUE(before->lastCommand.empty());

    const std::string line80(80, 'x');
    ASSERT_TRUE(registry_.Touch(n, line80));
    EXPECT_EQ(registry_.CopyRecord(n)->lastCommand, std::string(79, 'x'));
    ASSERT_TRUE(registry_.Touch(n, std::string(79, 'y')));
    EXPECT_EQ(registry_.CopyRecord(n)->lastCommand, std::string(79, 'y'));

    for (const char* line : {"PASS secret", "pass secret", "  PASS s3cr3t more", "PASS"}) {
        ASSERT_TRUE(registry_.Touch(n, line));
        const std::string stamped = registry_.CopyRecord(n)->lastCommand;
        EXPECT_EQ(stamped.find("secr"), std::string::npos) << line;
        EXPECT_EQ(stamped.find("s3cr3t"), std::string::npos) << line;
        EXPECT_TRUE(stamped == "PASS" || stamped == "pass") << stamped;
    }
    // Only the PASS verb loses its argument.
    ASSERT_TRUE(registry_.Touch(n, "PASV"));
    EXPECT_EQ(registry_.CopyRecord(n)->lastCommand, "PASV");
    ASSERT_TRUE(registry_.Touch(n, "PASSX y"));
    EXPECT_EQ(registry_.CopyRecord(n)->lastCommand, "PASSX y");
}

TEST_F(RegistryTest, TransferKindLooksAtFourLettersOnly) {
    EXPECT_EQ(OnlineRegistry::KindOf("retr file"), kDownload);
    EXPECT_EQ(OnlineRegistry::KindOf("RETR"), kDownload);
    EXPECT_EQ(OnlineRegistry::KindOf("APPEND x"), kUpload);
    EXPECT_EQ(OnlineRegistry::KindOf("stou"), kUpload);
    EXPECT_EQ(OnlineRegistry::KindOf("Stor a"), kUpload);
    EXPECT_EQ(OnlineRegistry::KindOf("LIST"), kNoTransfer);
    EXPECT_EQ(OnlineRegistry::KindOf("RET"), kNoTransfer);
    EXPECT_EQ(OnlineRegistry::KindOf(""), kNoTransfer);

    const uint32_t n = Login("alice");
    EXPECT_EQ(registry_.NoteTransfer(n, "LIST -la"), kNoTransfer);
    EXPECT_EQ(registry_.LastTransferCommand(n), "");
    EXPECT_EQ(registry_.NoteTransfer(n, "retr a.bin"), kDownload);
    EXPECT_EQ(registry_.NoteTransfer(n, "NOOP"), kNoTransfer);
    EXPECT_EQ(registry_.LastTransferCommand(n), "retr a.bin");
    EXPECT_EQ(registry_.NoteTransfer(n + 1, "RETR a"), kNoTransfer);
}

TEST_F(RegistryTest, LoginsCountByNameAndExactAddress) {
    Login("alice", "10.0.0.1");
    Login("ALICE", "10.0.0.2");
    Login("bob", "10.0.0.1");
    const std::string one = "10.0.0.1", two = "10.0.0.2", prefix = "10.0.0.";
    EXPECT_EQ(registry_.CountLogins("Alice"), 2);
    EXPECT_EQ(registry_.CountLogins("alice", &one), 1);
    EXPECT_EQ(registry_.CountLogins("alice", &two), 1);
    EXPECT_EQ(registry_.CountLogins("alice", &prefix), 0);
    EXPECT_EQ(registry_.CountLogins("carol"), 0);
}

TEST_F(RegistryTest, LoginCountsFollowLogoutsAndListEachUserOnce) {
    const std::string longIp(kOnlineTextMax + 5, '1');
    const uint32_t first = Login("alice", "10.0.0.1");
    const uint32_t second = Login("Alice", "10.0.0.1");
    Login("ALICE", longIp);
    const uint32_t bob = Login("bob", "10.0.0.2");
    EXPECT_TRUE(registry_.Unregister(first));
    EXPECT_FALSE(registry_.Unregister(first));
    EXPECT_TRUE(registry_.Unregister(bob));

    const std::string one = "10.0.0.1", cut = longIp.substr(0, kOnlineTextMax), two = "10.0.0.2";
    struct Row {
        const char* user;
        const std::string* ip;
        int logins;
    };
    for (const Row& row :
         {Row{"alice", nullptr, 2}, Row{"alice", &one, 1}, Row{"alice", &longIp, 0},
          Row{"alice", &cut, 1}, Row{"bob", nullptr, 0}, Row{"bob", &two, 0}}) {
        EXPECT_EQ(registry_.CountLogins(row.user, row.ip), row.logins)
            << row.user << " " << (row.ip ? *row.ip : "any");
    }
    // The first spelling stays the listed one while any session of the user is online.
    EXPECT_EQ(registry_.OnlineUsers(), (std::vector<std::pair<std::string, int>>{{"alice", 2}}));
    EXPECT_TRUE(registry_.Unregister(second));
    EXPECT_EQ(registry_.CountLogins("alice", &one), 0);
    EXPECT_EQ(registry_.CountLogins("ALICE"), 1);
}

TEST_F(RegistryTest, SnapshotsAreCopiesInRegistryOrder) {
    const uint32_t a = Login("alice");
    const uint32_t s = Login("remote$10.1.1.1$21");
    const uint32_t b = Login("bob");
    registry_.SetRate(b, 4096);

    KeyedList<OnlineRecord> all = registry_.Snapshot(OnlineKind::All);
    std::vector<std::string> names;
    for (const auto& node : all) names.push_back(*node.name);
    EXPECT_EQ(names, (std::vector<std::string>{"alice", "remote$10.1.1.1$21", "bob"}));
    EXPECT_EQ(all.FindId(static_cast<int32_t>(b))->data.currentRate, 4096u);

    KeyedList<OnlineRecord> local = registry_.Snapshot(OnlineKind::Local);
    EXPECT_EQ(local.Count(), 2u);
    EXPECT_FALSE(local.FindId(static_cast<int32_t>(s)));
    KeyedList<OnlineRecord> shared = registry_.Snapshot(OnlineKind::Shared);
    ASSERT_EQ(shared.Count(), 1u);
    EXPECT_EQ(shared.begin()->id, static_cast<int32_t>(s));

    // A snapshot does not follow later changes.
    registry_.Touch(a, "CWD /x");
    registry_.Unregister(b);
    EXPECT_EQ(all.Count(), 3u);
    EXPECT_TRUE(all.FindId(static_cast<int32_t>(a))->data.lastCommand.empty());
}

TEST_F(RegistryTest, KillAndKickAskSessionsToEnd) {
    const uint32_t a1 = Login("alice");
    const uint32_t a2 = Login("alice");
    const uint32_t b = Login("bob");
    EXPECT_TRUE(registry_.Kill(b));
    EXPECT_TRUE(sessions_[2]->Ended());
    EXPECT_TRUE(sessions_[2]->Aborted());
    EXPECT_FALSE(registry_.Kill(9));

    EXPECT_EQ(registry_.KickUser("ALICE", a1), 1);
    EXPECT_FALSE(sessions_[0]->Ended());
    EXPECT_TRUE(sessions_[1]->Ended());
    sessions_[1]->SetEnded(false);
    EXPECT_EQ(registry_.KickUser("alice", 0), 2);
    EXPECT_TRUE(sessions_[0]->Ended());
    EXPECT_TRUE(sessions_[1]->Ended());
    EXPECT_EQ(registry_.CountOnline(), 3u);  // asking to end does not unregister
    (void)a2;
}

TEST_F(RegistryTest, TransfersCountOnlySessionsWithARunningDataThread) {
    const uint32_t a1 = Login("alice");
    const uint32_t a2 = Login("alice");
    const uint32_t a3 = Login("alice");
    registry_.NoteTransfer(a1, "RETR big");
    registry_.NoteTransfer(a2, "STOR up");
    registry_.NoteTransfer(a3, "RETR idle");
    sessions_[0]->RunningTransfers() = 1;
    sessions_[1]->RunningTransfers() = 1;
    // a3's last transfer was a download, but nothing runs now.
    EXPECT_EQ(registry_.CountTransfers("alice", kDownload), 1);
    EXPECT_EQ(registry_.CountTransfers("alice", kUpload), 1);
    EXPECT_EQ(registry_.CountTransfers("Alice", 0), 2);
    EXPECT_EQ(registry_.CountTransfers(a2, kUpload), 1);
    EXPECT_EQ(registry_.CountTransfers(a2, kDownload), 0);
    EXPECT_EQ(registry_.CountTransfers(a3, 0), 0);
    // A listing is not a data transfer.
    sessions_[2]->RunningListings() = 1;
    EXPECT_EQ(registry_.CountTransfers(a3, 0), 0);
    sessions_[0]->RunningTransfers() = 0;
    sessions_[1]->RunningTransfers() = 0;
}

TEST_F(RegistryTest, SessionsOfDescribesEachSessionOfTheUser) {
    const uint32_t a = Login("alice");
    Login("bob");
    const uint32_t a2 = Login("Alice");
    sessions_[2]->RunningTransfers() = 1;
    const std::vector<OnlineSessionInfo> info = registry_.SessionsOf("alice");
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].connection, a);
    EXPECT_EQ(info[0].user, "alice");
    EXPECT_EQ(info[0].transfers, 0);
    EXPECT_EQ(info[1].connection, a2);
    EXPECT_EQ(info[1].user, "Alice");
    EXPECT_EQ(info[1].transfers, 1);
    EXPECT_FALSE(info[1].tls);
    EXPECT_TRUE(registry_.SessionsOf("carol").empty());
    sessions_[2]->RunningTransfers() = 0;
}

TEST_F(RegistryTest, SessionsOfShowsWhatEachSessionPublished) {
    const uint32_t a = Login("alice");
    // A running file job holds a listing count as well; it is a data thread only.
    sessions_[0]->RunningTransfers() = 1;
    sessions_[0]->RunningListings() = 1;
    std::vector<OnlineSessionInfo> info = registry_.SessionsOf("alice");
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].cwd, "");
    EXPECT_FALSE(info[0].passive);
    EXPECT_EQ(info[0].listings, 0);
    EXPECT_EQ(info[0].transfers, 1);
    registry_.NoteState(a, "pub\\incoming\\", true);
    registry_.NoteState(a + 1, "elsewhere\\", false);  // no such connection: nothing changes
    info = registry_.SessionsOf("alice");
    EXPECT_EQ(info[0].cwd, "pub\\incoming\\");
    EXPECT_TRUE(info[0].passive);
    registry_.NoteState(a, std::string(300, 'd'), false);
    EXPECT_EQ(registry_.SessionsOf("alice")[0].cwd.size(), 264u);
    sessions_[0]->RunningTransfers() = 0;
    sessions_[0]->RunningListings() = 0;
}

}  // namespace
}  // namespace orvex
