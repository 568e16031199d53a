#include "engine/RunState.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(RunState, ConcurrentDecrementsStopAtZero) {
    std::atomic<int> n{1000};
    std::atomic<int> sawNegative{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 600; ++i) {
                orvex::DecrementIfPositive(n);
                if (n.load() < 0) sawNegative = 1;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(n.load(), 0);
    EXPECT_EQ(sawNegative.load(), 0);
    EXPECT_EQ(&orvex::Run(), &orvex::Run()) << "one process-wide state";
}

}  // namespace
