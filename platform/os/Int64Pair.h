// An unsigned 64-bit integer kept as two 32-bit words, high word first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VexaOS {

struct Int64Pair {
  uint32_t high;
  uint32_t low;
};
static_assert(sizeof(Int64Pair) == 8 && offsetof(Int64Pair, low) == 4);

inline uint64_t Int64PairValue(const Int64Pair& pair) {
  return (static_cast<uint64_t>(pair.high) << 32) | pair.low;
}
inline Int64Pair Int64PairFrom(uint64_t value) {
  return Int64Pair{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
}

// Arithmetic wraps around modulo 2^64; comparisons are unsigned, high words first.
void Int64PairAdd(Int64Pair& pair, uint32_t value);
void Int64PairAddPair(Int64Pair& pair, const Int64Pair& value);
void Int64PairSub(Int64Pair& pair, uint32_t value);
void Int64PairSubPair(Int64Pair& pair, const Int64Pair& value);
bool Int64PairEqual(const Int64Pair& a, const Int64Pair& b);
bool Int64PairGreater(const Int64Pair& a, const Int64Pair& b);
bool Int64PairGreaterOrEqual(const Int64Pair& a, const Int64Pair& b);
bool Int64PairLess(const Int64Pair& a, const Int64Pair& b);
bool Int64PairLessOrEqual(const Int64Pair& a, const Int64Pair& b);
bool Int64PairIsZero(const Int64Pair& pair);
void Int64PairZero(Int64Pair& pair);

}  // namespace VexaOS
