#include "mux/H264AccessUnit.h"

#include <cstring>

namespace {

constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
// primary_pic_type 7 (any slice type) with its stop bit.
constexpr uint8_t kAccessUnitDelimiter[] = {0, 0, 0, 1, kNalAud, 0xF0};

bool IsVcl(uint8_t type) { return type >= kNalSliceNonIdr && type <= kNalSliceIdr; }

void AppendNal(std::vector<uint8_t>& out, const uint8_t* data, const H264NalUnit& nal) {
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), data + nal.payload, data + nal.end);
}

}  // namespace

std::vector<H264NalUnit> H264SplitNalUnits(const uint8_t* data, size_t size) {
  std::vector<H264NalUnit> units;
  // A start code is 00 00 01: look for each 01 and test the two bytes before it.
  for (size_t i = 2; i < size;) {
    const void* one = std::memchr(data + i, 1, size - i);
    if (!one) break;
    size_t at = size_t(static_cast<const uint8_t*>(one) - data);
    i = at + 1;
    if (data[at - 1] != 0 || data[at - 2] != 0) continue;
    size_t start = (at >= 3 && data[at - 3] == 0) ? at - 3 : at - 2;
    if (!units.empty()) units.back().end = start;
    if (at + 1 < size) units.push_back({start, at + 1, size, uint8_t(data[at + 1] & 0x1F)});
  }
  // Zero bytes before the next start code belong to no unit.
  for (H264NalUnit& unit : units)
    while (unit.end > unit.payload + 1 && data[unit.end - 1] == 0) --unit.end;
  return units;
}

H264AccessUnit H264BuildAccessUnit(H264AccessUnitContext& context, const uint8_t* data, size_t size) {
  std::vector<H264NalUnit> units = H264SplitNalUnits(data, size);
  H264AccessUnit unit{false, false, {}};
  bool hasSps = false;
  for (const H264NalUnit& nal : units) {
    unit.complete |= IsVcl(nal.type);
    unit.idr |= nal.type == kNalSliceIdr;
    hasSps |= nal.type == kNalSps;
    if (nal.type == kNalSps) context.sps.assign(data + nal.start, data + nal.end);
    if (nal.type == kNalPps) context.pps.assign(data + nal.start, data + nal.end);
  }
  if (!unit.complete) {
    for (const H264NalUnit& nal : units)
      if (nal.type != kNalAud) AppendNal(context.pendingPrefix, data, nal);
    return unit;
  }
  // The delimiter first (the sample's own, or one made here), then whatever waits.
  size_t bodyStart = 0;
  if (!units.empty() && units.front().type == kNalAud) {
    bodyStart = units.front().end;
    unit.bytes.assign(data, data + bodyStart);
    // A delimiter written without its stop bit gets it.
    if (bodyStart >= units.front().payload + 2 && (unit.bytes.back() & 0x1F) == 0) unit.bytes.back() |= 0x10;
  } else {
    unit.bytes.assign(kAccessUnitDelimiter, kAccessUnitDelimiter + sizeof kAccessUnitDelimiter);
  }
  bool prefixHasSps = false;
  for (const H264NalUnit& nal : H264SplitNalUnits(context.pendingPrefix.data(), context.pendingPrefix.size()))
    prefixHasSps |= nal.type == kNalSps;
  unit.bytes.insert(unit.bytes.end(), context.pendingPrefix.begin(), context.pendingPrefix.end());
  context.pendingPrefix.clear();
  if (unit.idr && !hasSps && !prefixHasSps && !context.sps.empty()) {
    unit.bytes.insert(unit.bytes.end(), context.sps.begin(), context.sps.end());
    unit.bytes.insert(unit.bytes.end(), context.pps.begin(), context.pps.end());
  }
  unit.bytes.insert(unit.bytes.end(), data + bodyStart, data + size);
  return unit;
}
