#include <gtest/gtest.h>

#include "platform/os/Int64Pair.h"

using namespace VexaOS;

TEST(Int64Pair, AddsAndSubtractsWithCarry) {
  Int64Pair pair{0, 0xFFFFFFFF};
  Int64PairAdd(pair, 1);
  EXPECT_EQ(pair.high, 1u);
  EXPECT_EQ(pair.low, 0u);
  Int64PairSub(pair, 1);
  EXPECT_EQ(Int64PairValue(pair), 0xFFFFFFFFull);
  Int64PairAddPair(pair, Int64PairFrom(0x100000001ull));
  EXPECT_EQ(Int64PairValue(pair), 0x200000000ull);
  Int64PairSubPair(pair, Int64PairFrom(0x1FFFFFFFFull));
  EXPECT_EQ(Int64PairValue(pair), 1ull);
  Int64PairSub(pair, 2);
  EXPECT_EQ(Int64PairValue(pair), ~0ull);  // wraps
  Int64PairZero(pair);
  EXPECT_TRUE(Int64PairIsZero(pair));
  EXPECT_FALSE(Int64PairIsZero(Int64Pair{1, 0}));
  EXPECT_FALSE(Int64PairIsZero(Int64Pair{0, 1}));
}

TEST(Int64Pair, ComparesHighWordsFirstUnsigned) {
  const Int64Pair small{0, 0xFFFFFFFF};
  const Int64Pair big{1, 0};
  const Int64Pair huge{0x80000000, 0};
  EXPECT_TRUE(Int64PairLess(small, big));
  EXPECT_TRUE(Int64PairGreater(huge, big));
  EXPECT_TRUE(Int64PairLessOrEqual(small, small));
  EXPECT_TRUE(Int64PairGreaterOrEqual(big, big));
  EXPECT_FALSE(Int64PairGreater(small, small));
  EXPECT_FALSE(Int64PairLess(big, small));
  EXPECT_TRUE(Int64PairEqual(big, Int64PairFrom(0x100000000ull)));
  EXPECT_FALSE(Int64PairEqual(big, small));
}
