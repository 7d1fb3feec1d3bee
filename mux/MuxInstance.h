// One multiplexer instance: the state the node's calls share with the instance's writer thread
// (MuxWriter.h), under the instance lock, and the library's entry points on it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "mux/MuxInput.h"
#include "mux/MuxWriter.h"
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

  MuxWriter writer;             // the thread's own
};

// What the node's calls and the writer share, each under the instance lock.
std::vector<MuxStream*> MuxSnapshot(MuxMp2Instance& mux);
void MuxCloseInputs(MuxMp2Instance& mux);
// Waits for a short while, or until the node calls in (a stream, the finish, the abort).
void MuxNap(MuxMp2Instance& mux, int ms);
bool MuxAborting(MuxMp2Instance& mux);

void MuxDefaults(MuxMp2Settings& settings, int32_t preset);
bool MuxSettingsAcceptable(const MuxMp2Settings& settings);
MuxMp2Instance* MuxCreate(MuxMp2ResourceFn resources, const MuxMp2Settings& settings);
int32_t MuxSetOutput(MuxMp2Instance& mux, const MuxMp2OutputOptions* options, bufstream* output);
int32_t MuxAddStream(MuxMp2Instance& mux, const MuxMp2StreamSettings& stream, bufstream* input);
// abort 0 returns once every input is written; abort 1 at once.
void MuxDone(MuxMp2Instance& mux, int32_t abort);
void MuxFree(MuxMp2Instance* mux);
