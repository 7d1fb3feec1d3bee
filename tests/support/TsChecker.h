// A strict reader of transport streams for the tests: reports every breach of the rules a
// player or analyser relies on, and hands back the PES packets it found.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TsPesInfo {
  bool hasPts = false;
  bool hasDts = false;
  int64_t pts = 0;
  int64_t dts = 0;
  size_t firstByte = 0;  // stream offset of the packet that starts it
  size_t lastByte = 0;   // stream offset of its last packet
  std::vector<uint8_t> payload;
};

struct TsReport {
  std::vector<std::string> problems;
  std::map<uint16_t, uint8_t> streamTypes;        // PID -> stream_type, from the PMT
  std::map<uint16_t, std::vector<TsPesInfo>> pes; // PID -> PES packets in order
  uint16_t pcrPid = 0x1FFF;
  size_t discontinuities = 0;
};

// Checks: sync bytes and packet size; PAT first, PMT before any elementary packet, both at
// least every 100 ms with valid CRCs; continuity counters; PCR at least every 40 ms and no
// jump over 100 ms (or backwards) without the discontinuity indicator; PES headers; DTS <= PTS
// and decode times increasing; each PES fully arrived by its decode time and not earlier than
// one second before it (arrival times interpolated between PCRs).
TsReport CheckTransportStream(const std::vector<uint8_t>& ts);
