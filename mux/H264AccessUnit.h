// Access units of H.264 in start-code form as the multiplexer carries them: each begins with
// an access unit delimiter, parameter sets sent as a sample of their own join the next
// picture, and every IDR picture carries the parameter sets in force.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum H264NalType : uint8_t {
  kNalSliceNonIdr = 1,
  kNalSliceIdr = 5,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
};

struct H264NalUnit {
  size_t start;    // first byte of the start code
  size_t payload;  // the NAL header byte
  size_t end;      // one past the last byte
  uint8_t type;
};

// The NAL units of a start-code stream, in order.
std::vector<H264NalUnit> H264SplitNalUnits(const uint8_t* data, size_t size);

struct H264AccessUnitContext {
  std::vector<uint8_t> pendingPrefix;  // parameter sets waiting for the next picture
  std::vector<uint8_t> sps;            // last seen, with its start code
  std::vector<uint8_t> pps;
};

struct H264AccessUnit {
  bool complete;       // false: the sample held no picture and was kept for the next one
  bool idr;
  std::vector<uint8_t> bytes;
};

H264AccessUnit H264BuildAccessUnit(H264AccessUnitContext& context, const uint8_t* data, size_t size);
