#pragma once
// Times and durations stated by a file become 100-ns counts here and nowhere else. A file
// is free to write any 64-bit timecode, scale or duration; every product and sum is checked,
// and a result outside ±kMaxTime is refused (false) so that the caller drops the block or
// the cue point instead of wrapping or clamping it into a wrong time. The bound leaves room
// for a time plus a duration in 64 bits.
#include <cstdint>

namespace mkv {

constexpr int64_t kMaxTime = INT64_MAX / 4;

// A tick count with room for a 64-bit timecode plus a signed offset, and the products of the
// checks. 32-bit x86 has no 128-bit integer: there the x87 long double (a 64-bit mantissa)
// serves, exact for every product below 2^64, which reaches times far beyond kMaxTime / 100.
#ifdef __SIZEOF_INT128__
using WideTicks = __int128;
#else
using WideTicks = long double;
#endif

// ticks × trackScale × segmentScale ÷ 100, where a tick is segmentScale nanoseconds.
bool TicksToTime(WideTicks ticks, double trackScale, uint64_t segmentScale, int64_t* out);
// The same for a tick count held as a float (the segment's duration).
bool FloatTicksToTime(long double ticks, uint64_t segmentScale, int64_t* out);
// A count of nanoseconds (default durations, chapter times).
bool NanosToTime(uint64_t nanoseconds, int64_t* out);
// start + index × step: the time of a frame inside a laced block.
bool StepTime(int64_t start, uint64_t index, int64_t step, int64_t* out);

}  // namespace mkv
