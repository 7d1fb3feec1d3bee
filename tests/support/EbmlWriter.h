#pragma once
// A small EBML writer for hand-built Matroska files: the cases muxers rarely write.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace mkvtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes IdBytes(uint32_t id) {
  Bytes out;
  for (int shift = 24; shift >= 0; shift -= 8)
    if ((id >> shift) != 0 || shift == 0) out.push_back(static_cast<uint8_t>(id >> shift));
  return out;
}

// `length` 0 picks the shortest form.
inline Bytes SizeBytes(uint64_t v, int length = 0) {
  if (length == 0) {
    length = 1;
    while (length < 8 && v >= (1ull << (7 * length)) - 1) ++length;
  }
  Bytes out(length);
  for (int i = length - 1; i >= 0; --i, v >>= 8) out[i] = static_cast<uint8_t>(v);
  out[0] |= static_cast<uint8_t>(0x80 >> (length - 1));
  return out;
}

inline Bytes Element(uint32_t id, const Bytes& payload) {
  return Cat({IdBytes(id), SizeBytes(payload.size()), payload});
}
// An element of unknown size, as written to a pipe.
inline Bytes Unsized(uint32_t id, const Bytes& payload) {
  return Cat({IdBytes(id), Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, payload});
}
// An unsigned integer's bytes, as few as hold it.
inline Bytes UintBytes(uint64_t v) {
  Bytes b;
  do {
    b.insert(b.begin(), static_cast<uint8_t>(v));
    v >>= 8;
  } while (v != 0);
  return b;
}
inline Bytes Uint(uint32_t id, uint64_t v) { return Element(id, UintBytes(v)); }
inline Bytes Str(uint32_t id, const std::string& s) { return Element(id, Bytes(s.begin(), s.end())); }
inline Bytes Float(uint32_t id, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  Bytes b(8);
  for (int i = 7; i >= 0; --i, bits >>= 8) b[i] = static_cast<uint8_t>(bits);
  return Element(id, b);
}

inline Bytes EbmlHeader() {
  return Element(0x1A45DFA3, Cat({Uint(0x4286, 1), Str(0x4282, "matroska"), Uint(0x4287, 4),
                                  Uint(0x4285, 2)}));
}

// Track entry with the children given.
inline Bytes TrackEntry(uint64_t number, uint64_t type, const std::string& codec,
                        const Bytes& more = {}) {
  return Element(0xAE, Cat({Uint(0xD7, number), Uint(0x83, type), Str(0x86, codec), more}));
}

// A SimpleBlock (or Block) payload: track number, relative time, flags, then `rest`.
inline Bytes BlockPayload(uint64_t track, int16_t relative, uint8_t flags, const Bytes& rest) {
  return Cat({SizeBytes(track), Bytes{static_cast<uint8_t>(static_cast<uint16_t>(relative) >> 8),
                                      static_cast<uint8_t>(relative), flags},
              rest});
}
inline Bytes SimpleBlock(uint64_t track, int16_t relative, uint8_t flags, const Bytes& rest) {
  return Element(0xA3, BlockPayload(track, relative, flags, rest));
}
inline Bytes Cluster(uint64_t timecode, const Bytes& blocks) {
  return Element(0x1F43B675, Cat({Uint(0xE7, timecode), blocks}));
}

inline Bytes Segment(const Bytes& children, uint64_t timecodeScale = 1000000) {
  return Element(0x18538067, Cat({Element(0x1549A966, Uint(0x2AD7B1, timecodeScale)), children}));
}
// A whole file: the EBML header and one segment.
inline Bytes File(const Bytes& children, uint64_t timecodeScale = 1000000) {
  return Cat({EbmlHeader(), Segment(children, timecodeScale)});
}
inline Bytes Tracks(const Bytes& entries) { return Element(0x1654AE6B, entries); }
inline Bytes Audio(uint64_t number, const Bytes& more = {}) { return TrackEntry(number, 2, "A_AAC", more); }
inline Bytes Group(const Bytes& block, const Bytes& more) { return Element(0xA0, Cat({Element(0xA1, block), more})); }

inline Bytes Filled(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

}  // namespace mkvtest
