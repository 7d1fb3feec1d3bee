#include "framework/matroska/MkvTime.h"

#include <cmath>

namespace mkv {
namespace {

bool InRange(__int128 v) { return v >= -kMaxTime && v <= kMaxTime; }

bool Store(__int128 v, int64_t* out) {
  if (!InRange(v)) return false;
  *out = static_cast<int64_t>(v);
  return true;
}

bool StoreFloat(long double v, int64_t* out) {
  if (!std::isfinite(v) || v < -kMaxTime || v > kMaxTime) return false;
  *out = static_cast<int64_t>(v);
  return true;
}

}  // namespace

bool TicksToTime(__int128 ticks, double trackScale, uint64_t segmentScale, int64_t* out) {
  if (trackScale != 1.0)
    return StoreFloat(static_cast<long double>(ticks) * trackScale * static_cast<long double>(segmentScale) / 100.0L,
                      out);
  __int128 product = 0;
  if (__builtin_mul_overflow(ticks, static_cast<__int128>(segmentScale), &product)) return false;
  return Store(product / 100, out);
}

bool FloatTicksToTime(long double ticks, uint64_t segmentScale, int64_t* out) {
  return StoreFloat(ticks * static_cast<long double>(segmentScale) / 100.0L, out);
}

bool NanosToTime(uint64_t nanoseconds, int64_t* out) { return Store(nanoseconds / 100, out); }

bool StepTime(int64_t start, uint64_t index, int64_t step, int64_t* out) {
  __int128 offset = 0;
  if (__builtin_mul_overflow(static_cast<__int128>(index), static_cast<__int128>(step), &offset)) return false;
  return Store(static_cast<__int128>(start) + offset, out);
}

}  // namespace mkv
