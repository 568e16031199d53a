#pragma once
// The ranking of the top-list reports and the arguments they take.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Tokenizer.h"

namespace orvex {

inline constexpr int kTopDefaultCount = 10;
inline constexpr int kTopMaxCount = 99;

struct TopArgs {
    int count = kTopDefaultCount;
    int kind = 0;  // users: 0 all, 1 local, 2 shared
};

// From args[2] on: [count] [local|remote], or [local|remote]. Counts of 100 or more are 99.
TopArgs ParseTopArgs(const Args& args);

// The positions of the best `count` keys, best first. The candidates are met in order; a full
// list gives up its smallest entry (the earliest among equals) only for a larger key, and equal
// keys print in the order they were kept.
std::vector<size_t> RankTop(const std::vector<int32_t>& keys, int count);

}  // namespace orvex
