#include "framework/matroska/MkvTime.h"

#include <cmath>

namespace mkv {
namespace {

bool StoreFloat(long double v, int64_t* out) {
  if (!std::isfinite(v) || v < -kMaxTime || v > kMaxTime) return false;
  *out = static_cast<int64_t>(v);
  return true;
}

#ifdef __SIZEOF_INT128__
bool Store(__int128 v, int64_t* out) {
  if (v < -kMaxTime || v > kMaxTime) return false;
  *out = static_cast<int64_t>(v);
  return true;
}

// Whole ticks are multiplied exactly; the division truncates toward zero.
bool ScaleTicks(__int128 ticks, uint64_t segmentScale, int64_t* out) {
  __int128 product = 0;
  if (__builtin_mul_overflow(ticks, static_cast<__int128>(segmentScale), &product)) return false;
  return Store(product / 100, out);
}

bool OffsetTime(int64_t start, uint64_t index, int64_t step, int64_t* out) {
  __int128 offset = 0;
  if (__builtin_mul_overflow(static_cast<__int128>(index), static_cast<__int128>(step), &offset)) return false;
  return Store(static_cast<__int128>(start) + offset, out);
}
#else
bool ScaleTicks(long double ticks, uint64_t segmentScale, int64_t* out) {
  return StoreFloat(std::trunc(ticks * static_cast<long double>(segmentScale) / 100.0L), out);
}

bool OffsetTime(int64_t start, uint64_t index, int64_t step, int64_t* out) {
  return StoreFloat(static_cast<long double>(start) + static_cast<long double>(index) * step, out);
}
#endif

}  // namespace

bool TicksToTime(WideTicks ticks, double trackScale, uint64_t segmentScale, int64_t* out) {
  if (trackScale != 1.0)
    return StoreFloat(static_cast<long double>(ticks) * trackScale * static_cast<long double>(segmentScale) / 100.0L,
                      out);
  return ScaleTicks(ticks, segmentScale, out);
}

bool FloatTicksToTime(long double ticks, uint64_t segmentScale, int64_t* out) {
  return StoreFloat(ticks * static_cast<long double>(segmentScale) / 100.0L, out);
}

bool NanosToTime(uint64_t nanoseconds, int64_t* out) {
  const uint64_t time = nanoseconds / 100;
  if (time > static_cast<uint64_t>(kMaxTime)) return false;
  *out = static_cast<int64_t>(time);
  return true;
}

bool StepTime(int64_t start, uint64_t index, int64_t step, int64_t* out) { return OffsetTime(start, index, step, out); }

}  // namespace mkv
