// One multiplexer instance: a thread of its own pulls the inputs, orders their samples by decode
// time and writes them as a transport stream into the output face.
//
// Timing: the output's clock advances in slots of one PCR interval. Each slot starts with a
// PCR (and, every few slots, PAT and PMT); a PES is written in the slot that begins about
// maxLead before its decode time, so every byte arrives between maxLead (+ one slot) and
// minLead before it is decoded. A jump of the source times ends the time base: a last PCR
// closes the old one and the first PCR of the new one carries the discontinuity indicator.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mux/MuxInput.h"
#include "mux/TsPacketWriter.h"
#include "interfaces/sv_mux_mp2.h"

struct MuxStream {
  MuxInput input;
  uint16_t pid = 0;
  uint8_t streamId = 0;
  bool ended = false;
  bool started = false;     // wrote a PES in the current time base
};

struct MuxMp2Instance {
  MuxMp2Settings settings{};
  MuxMp2PrintFn errorPrint = nullptr;
  bufstream* output = nullptr;
  uint16_t pmtPid = 0x1000;

  std::mutex lock;              // guards the fields below up to the thread
  std::condition_variable wake;
  std::vector<std::unique_ptr<MuxStream>> streams;
  bool finishing = false;
  bool aborting = false;
  bool outputStarted = false;
  uint32_t calls = 0;            // grows with every call that the thread should notice
  std::thread thread;

  // Thread-only state.
  TsPacketWriter ts;
  bool timeBaseOpen = false;
  uint32_t epoch = 0;
  int64_t slot = 0;             // current slot number; its PCR is slot * slot90 * 300
  int64_t slot90 = 0;
  int64_t slotsSincePsi = 0;
  bool pendingDiscontinuity = false;
  bool outputEnded = false;
  uint16_t pcrPid = 0;
};

void MuxDefaults(MuxMp2Settings& settings, int32_t preset);
bool MuxSettingsAcceptable(const MuxMp2Settings& settings);
MuxMp2Instance* MuxCreate(MuxMp2ResourceFn resources, const MuxMp2Settings& settings);
int32_t MuxSetOutput(MuxMp2Instance& mux, const MuxMp2OutputOptions* options, bufstream* output);
int32_t MuxAddStream(MuxMp2Instance& mux, const MuxMp2StreamSettings& stream, bufstream* input);
// abort 0 returns once every input is written; abort 1 at once.
void MuxDone(MuxMp2Instance& mux, int32_t abort);
void MuxFree(MuxMp2Instance* mux);
