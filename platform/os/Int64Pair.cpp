#include "platform/os/Int64Pair.h"

namespace VexaOS {

void Int64PairAdd(Int64Pair& pair, uint32_t value) {
  const uint32_t low = pair.low + value;
  if (low < pair.low) ++pair.high;
  pair.low = low;
}

void Int64PairAddPair(Int64Pair& pair, const Int64Pair& value) {
  Int64PairAdd(pair, value.low);
  pair.high += value.high;
}

void Int64PairSub(Int64Pair& pair, uint32_t value) {
  if (pair.low < value) --pair.high;
  pair.low -= value;
}

void Int64PairSubPair(Int64Pair& pair, const Int64Pair& value) {
  Int64PairSub(pair, value.low);
  pair.high -= value.high;
}

bool Int64PairEqual(const Int64Pair& a, const Int64Pair& b) { return a.high == b.high && a.low == b.low; }

bool Int64PairGreater(const Int64Pair& a, const Int64Pair& b) {
  return a.high != b.high ? a.high > b.high : a.low > b.low;
}

bool Int64PairGreaterOrEqual(const Int64Pair& a, const Int64Pair& b) { return !Int64PairLess(a, b); }

bool Int64PairLess(const Int64Pair& a, const Int64Pair& b) {
  return a.high != b.high ? a.high < b.high : a.low < b.low;
}

bool Int64PairLessOrEqual(const Int64Pair& a, const Int64Pair& b) { return !Int64PairGreater(a, b); }

bool Int64PairIsZero(const Int64Pair& pair) { return pair.high == 0 && pair.low == 0; }

void Int64PairZero(Int64Pair& pair) {
  pair.high = 0;
  pair.low = 0;
}

}  // namespace VexaOS
