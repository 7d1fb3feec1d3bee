// How the multiplexer shapes H.264 access units before they go into PES packets.
#include <gtest/gtest.h>

#include "mux/H264AccessUnit.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kSps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E};
const Bytes kPps = {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80};
const Bytes kAud = {0, 0, 0, 1, 0x09, 0xF0};
const Bytes kIdr = {0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x00, 0x03, 0x01};
const Bytes kSlice = {0, 0, 0, 1, 0x41, 0x9A, 0x02};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Each access unit in turn through one context: it learns the parameter sets from the first
// and puts them in front of every IDR picture that lacks them, never twice; a missing delimiter
// is added, one lacking its stop bit mended.
TEST(H264AccessUnit, ParameterSetsBeforeEveryIdrAndOneDelimiter) {
  const Bytes own = Join({kAud, kSps, kPps, kIdr});
  const struct {
    Bytes in, out;
  } steps[] = {
      {own, own},
      {Join({kAud, kSlice}), Join({kAud, kSlice})},
      {Join({kAud, kIdr}), own},
      {own, own},
      {kSlice, Join({kAud, kSlice})},
      {Join({{0, 0, 0, 1, 0x09, 0xE0}, kSlice}), Join({kAud, kSlice})},
  };
  H264AccessUnitContext context;
  for (size_t i = 0; i < std::size(steps); ++i)
    EXPECT_EQ(H264BuildAccessUnit(context, steps[i].in.data(), steps[i].in.size()).bytes, steps[i].out) << "step " << i;
}

}  // namespace
