#include "plugin/StringStack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace orvex::plugin;

namespace {

class StringStackTest : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override { BeginCall(nullptr, GetParam(), nullptr, &top_); }
    void TearDown() override {
        while (top_ != nullptr) {
            OrvexStackEntry* next = top_->next;
            OrvexStackFree(top_);
            top_ = next;
        }
    }
    std::string TopText() const { return reinterpret_cast<const char*>(top_) + 8; }

    OrvexStackEntry* top_ = nullptr;
};

TEST_P(StringStackTest, NewestOnTopAndPopFreesInOrder) {
    PushString("first");
    PushNumber(-42);
    ASSERT_NE(top_, nullptr);
    EXPECT_EQ(TopText(), "-42");
    char buf[kParamSize] = "";
    EXPECT_EQ(PopString(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "-42");
    EXPECT_EQ(PopString(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "first");
    EXPECT_EQ(top_, nullptr);
}

TEST_P(StringStackTest, EmptyStackLeavesBufferAsItWas) {
    char buf[kParamSize] = "kept";
    EXPECT_EQ(PopString(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "kept");
}

TEST_P(StringStackTest, PushCutsToStringSizeAndPopToBuffer) {
    const size_t size = static_cast<size_t>(GetParam());
    const std::string longText(10000, 'x');
    PushString(longText.c_str());
    EXPECT_EQ(TopText().size(), size - 1);

    char buf[kParamSize];
    std::memset(buf, 'y', sizeof buf);
    ASSERT_EQ(PopString(buf, sizeof buf), 0);
    EXPECT_EQ(std::strlen(buf), std::min(size - 1, kParamSize - 1));
}

TEST_P(StringStackTest, PopDoesNotReadPastStringSizeWithoutTerminator) {
    // An installer that filled the whole text without a terminator.
    OrvexStackEntry* e = OrvexStackAlloc(GetParam());
    ASSERT_NE(e, nullptr);
    std::memset(reinterpret_cast<char*>(e) + 8, 'z', static_cast<size_t>(GetParam()));
    top_ = e;
    char buf[kParamSize] = "";
    ASSERT_EQ(PopString(buf, sizeof buf), 0);
    EXPECT_EQ(std::strlen(buf), std::min(static_cast<size_t>(GetParam()) - 1, kParamSize - 1));
}

INSTANTIATE_TEST_SUITE_P(StringSizes, StringStackTest, ::testing::Values(16, 1024, 8192));

TEST(StringStack, AllocatorGivesZeroedBlocksAndRefusesNonsense) {
    OrvexStackEntry* e = OrvexStackAlloc(16);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->next, nullptr);
    const char* text = reinterpret_cast<const char*>(e) + 8;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(text[i], 0);
    OrvexStackFree(e);
    EXPECT_EQ(OrvexStackAlloc(0), nullptr);
    EXPECT_EQ(OrvexStackAlloc(-5), nullptr);
}

TEST(StringStack, WithoutStackTopNothingHappens) {
    BeginCall(nullptr, 1024, nullptr, nullptr);
    PushString("lost");
    char buf[kParamSize] = "same";
    EXPECT_EQ(PopString(buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "same");
}

TEST(StringStack, StringSizeOneHoldsOnlyEmptyTexts) {
    OrvexStackEntry* top = nullptr;
    BeginCall(nullptr, 1, nullptr, &top);
    PushNumber(7);
    char buf[kParamSize] = "old";
    ASSERT_EQ(PopString(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(top, nullptr);
}

}  // namespace
