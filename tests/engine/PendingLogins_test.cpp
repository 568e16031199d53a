#include "engine/PendingLogins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace {

TEST(PendingLogins, CapsPerAddressAndInAll) {
    PendingLogins p;
    p.SetLimits(LoginLimits{2, 3, 60, 3});
    struct Step {
        char op;  // '+' enter, '-' leave
        const char* ip;
        PendingLogins::Verdict verdict;
        int count;
    };
    const std::vector<Step> steps = {
        {'+', "10.0.0.1", PendingLogins::kAdmitted, 1},
        {'+', "10.0.0.1", PendingLogins::kAdmitted, 2},
        {'+', "10.0.0.1", PendingLogins::kAddressFull, 2},
        {'+', "10.0.0.2", PendingLogins::kAdmitted, 3},
        {'+', "10.0.0.3", PendingLogins::kAllFull, 3},
        {'-', "10.0.0.1", PendingLogins::kAdmitted, 2},
        {'+', "10.0.0.3", PendingLogins::kAdmitted, 3},
        {'-', "10.0.0.9", PendingLogins::kAdmitted, 3},  // never admitted: nothing to give back
        {'-', "10.0.0.3", PendingLogins::kAdmitted, 2},
        {'+', "10.0.0.1", PendingLogins::kAdmitted, 3},
    };
    for (const Step& s : steps) {
        if (s.op == '+') {
            EXPECT_EQ(p.Enter(s.ip), s.verdict) << s.ip;
        } else {
            p.Leave(s.ip);
        }
        EXPECT_EQ(p.Count(), s.count) << s.op << s.ip;
    }
}

TEST(PendingLogins, ConcurrentConnectionsNeverPassTheCap) {
    PendingLogins p;
    p.SetLimits(LoginLimits{1000, 50, 60, 3});
    std::vector<std::thread> threads;
    std::atomic<int> admitted{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i)
                if (p.Enter("10.0.0." + std::to_string(t)) == PendingLogins::kAdmitted) ++admitted;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(admitted.load(), 50);
    EXPECT_EQ(p.Count(), 50);
}

}  // namespace
}  // namespace orvex
