// Builds 188-byte transport-stream packets: PSI sections (PAT, PMT), PES packets split over
// transport packets, and adaptation-only packets that carry a program clock reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <bitset>
#include <vector>

#include "platform/os/ByteBuffer.h"

constexpr uint32_t kTsPacketSize = 188;
constexpr uint16_t kPatPid = 0;

struct TsProgramStream {
  uint16_t pid;
  uint8_t streamType;   // ISO/IEC 13818-1 stream_type
  bool ac3Registration; // adds the "AC-3" registration descriptor
};

struct TsPes {
  uint16_t pid;
  uint8_t streamId;
  bool hasPts;
  int64_t pts;          // 90 kHz, taken modulo 2^33
  bool hasDts;
  int64_t dts;
  bool randomAccess;
  bool boundedLength;   // writes PES_packet_length; 0 (unbounded) otherwise
  const uint8_t* data;
  size_t size;
};


struct TsPacketWriter {
  ByteBuffer out;  // packets made; those from `sent` on are not yet written out
  size_t sent = 0;
  uint8_t continuity[8192] = {};
  // The stream continues another one (after a seek): the first packet of every PID carries the
  // discontinuity indicator, since its counters and clock start afresh.
  bool continuesAnother = false;
  std::bitset<8192> written;
};

inline size_t TsUnsent(const TsPacketWriter& ts) { return ts.out.size() - ts.sent; }

void TsWritePat(TsPacketWriter& ts, uint16_t transportStreamId, uint16_t programNumber, uint16_t pmtPid);
void TsWritePmt(TsPacketWriter& ts, uint16_t pmtPid, uint16_t programNumber, uint16_t pcrPid,
                const std::vector<TsProgramStream>& streams);
void TsWritePes(TsPacketWriter& ts, const TsPes& pes);
// pcr in 27 MHz ticks; discontinuity marks a new system time base.
void TsWritePcr(TsPacketWriter& ts, uint16_t pid, int64_t pcr, bool discontinuity);
uint32_t TsCrc32(const uint8_t* data, size_t size);
