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

H264AccessUnit Build(H264AccessUnitContext& context, const Bytes& bytes) {
  return H264BuildAccessUnit(context, bytes.data(), bytes.size());
}

TEST(H264AccessUnit, EveryIdrCarriesTheParameterSets) {
  H264AccessUnitContext context;
  Build(context, Join({kAud, kSps, kPps, kIdr}));
  EXPECT_EQ(Build(context, Join({kAud, kSlice})).bytes, Join({kAud, kSlice}));
  EXPECT_EQ(Build(context, Join({kAud, kIdr})).bytes, Join({kAud, kSps, kPps, kIdr}));
  // Its own parameter sets are not doubled.
  Bytes own = Join({kAud, kSps, kPps, kIdr});
  EXPECT_EQ(Build(context, own).bytes, own);
}

TEST(H264AccessUnit, DelimiterAddedOrMended) {
  H264AccessUnitContext context;
  EXPECT_EQ(Build(context, kSlice).bytes, Join({kAud, kSlice}));
  EXPECT_EQ(Build(context, Join({{0, 0, 0, 1, 0x09, 0xE0}, kSlice})).bytes, Join({kAud, kSlice}));
}

}  // namespace
