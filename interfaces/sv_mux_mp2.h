// The MPEG-2 transport-stream multiplexer library: its blocks and its seven entry points. The
// multiplexer node loads the library at run time and finds each entry point through its ordinal
// (kMuxMp2Entries), so that another library with the same entry points can stand in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interfaces/StreamTypes.h"
#include "interfaces/bufstream.h"

#ifdef _WIN32
// The DLL's module-definition file exports each entry point by its ordinal alone.
#define SV_MUX_API extern "C"
#else
#define SV_MUX_API extern "C" __attribute__((visibility("default")))
#endif

// Multiplexer settings, 220 bytes. Ordinal 1 fills them for a preset; times in milliseconds.
struct MuxMp2Settings {
  uint32_t preset;
  uint32_t transportStreamId;
  uint32_t programNumber;
  uint32_t psiIntervalMs;      // PAT and PMT at least this often (at most 100)
  uint32_t pcrIntervalMs;      // a PCR at least this often (at most 40)
  uint32_t startOffsetMs;      // added to every source time: room for decode-time reordering
  uint32_t maxLeadMs;          // a PES starts at most this long before its decode time (< 1000)
  uint32_t minLeadMs;          // and ends at least this long before it
  uint32_t firstVideoPid;
  uint32_t firstAudioPid;
  uint32_t jumpThresholdMs;    // a source time step larger than this starts a new time base
  uint32_t outputBatchBytes;   // packets gathered before a write into the output
  uint32_t reorderWindow;      // H.264 access units read ahead to find decode times
  uint32_t reserved0[2];
  uint32_t pcrOnVideo;         // offset 60: 1 carries the PCR on the first video stream
  uint8_t reserved1[156];
};
static_assert(sizeof(MuxMp2Settings) == 220);
static_assert(offsetof(MuxMp2Settings, pcrOnVideo) == 60);

// Output options, 80 bytes.
struct MuxMp2OutputOptions {
  uint32_t pmtPid;             // offset 0
  uint32_t continuesAnother;   // offset 4: 1 when the output follows another stream (a seek)
  uint8_t reserved[72];
};
static_assert(sizeof(MuxMp2OutputOptions) == 80);
static_assert(offsetof(MuxMp2OutputOptions, continuesAnother) == 4);

// Stream settings, 161 bytes, byte-packed.
#pragma pack(push, 1)
struct MuxMp2StreamSettings {
  uint32_t pid;                // 0: 0 chooses the next free PID of the stream's kind
  int32_t streamType;          // 4: 10 H.264, 132 MPEG audio, 143 AAC (ADTS), 150 AC-3
  uint8_t reserved0[68];
  uint32_t streamKind;         // 76: kMuxKindVideo or kMuxKindAudio
  uint8_t reserved1[29];
  uint32_t rateHintKbps;       // 109: sizes how far the library reads ahead on this input
  uint8_t reserved2[48];
};
#pragma pack(pop)
static_assert(sizeof(MuxMp2StreamSettings) == 161);
static_assert(offsetof(MuxMp2StreamSettings, streamType) == 4);
static_assert(offsetof(MuxMp2StreamSettings, streamKind) == 76);
static_assert(offsetof(MuxMp2StreamSettings, rateHintKbps) == 109);

enum : uint32_t {
  kMuxKindVideo = 0x10000,
  kMuxKindAudio = 0x20000,
};

// Answers a function for a name, or null. The library asks for "err_printf", "wrn_printf" and
// "inf_printf", each a printf-like function.
typedef void* (*MuxMp2ResourceFn)(const char* name);
typedef void (*MuxMp2PrintFn)(const char* format, ...);
typedef struct MuxMp2Instance* MuxMp2Handle;

typedef int32_t (*MuxMp2DefaultsFn)(MuxMp2Settings* settings, int32_t preset);                   // 1
typedef int32_t (*MuxMp2CheckFn)(MuxMp2ResourceFn resources, MuxMp2Settings* settings,
                                 int32_t flags, void* reserved);                                  // 6
typedef MuxMp2Handle (*MuxMp2CreateFn)(MuxMp2ResourceFn resources, MuxMp2Settings* settings);   // 2
typedef int32_t (*MuxMp2SetOutputFn)(MuxMp2Handle mux, MuxMp2OutputOptions* options,
                                     bufstream* output);                                         // 11
typedef int32_t (*MuxMp2AddStreamFn)(MuxMp2Handle mux, MuxMp2StreamSettings* stream,
                                     bufstream* input);                                          // 8
typedef int32_t (*MuxMp2DoneFn)(MuxMp2Handle mux, int32_t abort);                                 // 4
typedef void (*MuxMp2FreeFn)(MuxMp2Handle mux);                                                    // 5

enum MuxMp2Ordinal : int32_t {
  kMuxOrdinalDefaults = 1,
  kMuxOrdinalCreate = 2,
  kMuxOrdinalDone = 4,
  kMuxOrdinalFree = 5,
  kMuxOrdinalCheck = 6,
  kMuxOrdinalAddStream = 8,
  kMuxOrdinalSetOutput = 11,
};

struct MuxMp2Entry {
  int32_t ordinal;
  const char* symbol;
};

// The exported name of each ordinal.
constexpr MuxMp2Entry kMuxMp2Entries[] = {
    {kMuxOrdinalDefaults, "mp2mux_defaults"},   {kMuxOrdinalCreate, "mp2mux_create"},
    {kMuxOrdinalDone, "mp2mux_done"},           {kMuxOrdinalFree, "mp2mux_free"},
    {kMuxOrdinalCheck, "mp2mux_check"},         {kMuxOrdinalAddStream, "mp2mux_add_stream"},
    {kMuxOrdinalSetOutput, "mp2mux_set_output"},
};

#ifdef _WIN32
constexpr const char* kMuxMp2LibraryName = "sv_mux_mp2.dll";
#else
constexpr const char* kMuxMp2LibraryName = "libsv_mux_mp2.so";
#endif
