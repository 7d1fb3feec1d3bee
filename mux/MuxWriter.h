// The writer of a multiplexer instance: the instance's own thread, which pulls the inputs,
// orders their samples by decode time and writes them as a transport stream into the output.
// Its state belongs to that thread alone; what it shares with the node's calls is the
// instance's (MuxInstance.h), under the instance lock.
//
// Timing: the output's clock advances in slots of one PCR interval. Each slot starts with a
// PCR (and, every few slots, PAT and PMT); a PES is written in the slot that begins about
// maxLead before its decode time, so every byte arrives between maxLead (+ one slot) and
// minLead before it is decoded. A jump of the source times ends the time base: a last PCR
// closes the old one and the first PCR of the new one carries the discontinuity indicator.
#pragma once

#include <cstdint>

#include "mux/TsPacketWriter.h"

struct MuxMp2Instance;

struct MuxWriter {
  TsPacketWriter ts;
  bool timeBaseOpen = false;
  uint32_t epoch = 0;
  int64_t slot = 0;             // current slot number; its PCR is slot * slot90 * 300
  int64_t slot90 = 0;           // set before the thread starts
  int64_t slotsSincePsi = 0;
  // The output continues another stream: its first PCR and every PID's first packet say so.
  // Set with the output, before the thread writes anything.
  bool discontinuityFirst = false;
  bool outputEnded = false;
  uint16_t pcrPid = 0;
};

// The thread's body: runs until the instance is finished, aborted or its output refused.
void MuxRun(MuxMp2Instance& mux);
