#include "engine/os/ProcessRunner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace orvex {
namespace {

// Gone, or a zombie nobody reaps yet: either way no longer running.
bool Ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST(ProcessRunner, ProgramsGetTheGivenEnvironmentAndEndWithEverythingTheyStarted) {
    setenv("ORVEX_PROBE", "leaked", 1);
    const std::vector<std::string> env{"MARK=given"};
    std::string out;
    EXPECT_EQ(RunProgram({"/bin/sh", "-c", "echo $MARK ${ORVEX_PROBE-none}"}, &out, 10000,
                         64 * 1024, &env),
              0);
    EXPECT_EQ(out, "given none\n");
    unsetenv("ORVEX_PROBE");

    // A program past its time limit, and what it left running in the background holding its
    // output, end together.
    char dir[] = "/tmp/orvex-run-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string pidFile = std::string(dir) + "/pid";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        RunProgram({"/bin/sh", "-c", "sleep 60 & echo $! > " + pidFile + "; sleep 60"}, &out, 500),
        -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    pid_t background = 0;
    std::ifstream(pidFile) >> background;
    ASSERT_GT(background, 0);
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
        ended = Ended(background);
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) kill(background, SIGKILL);
    EXPECT_TRUE(ended);
    unlink(pidFile.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace orvex
