// Test media made with FFmpeg and mkvmerge at test time: elementary streams with per-packet
// timing for the bare pipeline, Matroska files for the whole road; the means to run
// vexa-transcode and to judge what comes out. The bare pipeline: memory connection ->
// pass-through decoder and encoder -> pipe buffer -> multiplexer library -> sink -> Read.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TsChecker.h"

struct EsSample {
  int64_t ptsMs;
  std::vector<uint8_t> bytes;
};

struct EsStream {
  int32_t code;  // 10 (H.264), 143 (AAC)
  std::vector<EsSample> samples;  // decode order
};

// Encodes a source with FFmpeg (H.264 with B-frame pyramids, AAC) into dir unless it is there,
// and extracts both streams. Empty on failure.
std::vector<EsStream> MakeFixture(const std::string& dir, const std::string& name, const std::string& videoSize,
                                  int seconds);

struct CommandResult {
  int exitCode;        // -1 when it did not exit by itself
  std::string output;  // standard output, and whatever the command sends there
};
// Runs one shell command and collects its standard output.
CommandResult RunShell(const std::string& command);

struct PipelineRun {
  std::vector<uint8_t> output;
  int32_t readResultAtEnd = 0;
};

// Feeds every stream through the pipeline once per pass, its shift added to every source time,
// like the demultiplexer: the stream
// whose last sample is earliest goes next, and the first video sample of a pass is the
// delimiter and parameter sets alone. Then closes the multiplexer and reads the sink to its end.
// Paced, each sample waits until the library has taken the one before (a source slower than
// the multiplexer); otherwise everything is fed at once and mostly multiplexed while closing.
PipelineRun RunPipeline(const std::vector<EsStream>& streams, const std::vector<int64_t>& passShiftsMs,
                        bool paced = false);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// ---- Matroska files for the whole road, and vexa-transcode run on them

// Keeps the framework's L1log.txt and the settings the host may write out of the source tree.
void UseTestEnvironment();

// The folder the fixtures are made in (under the build directory).
std::string FixtureDir();
// Makes the named fixture unless it exists and answers its path; empty when it cannot be made.
// Names: h264_aac, ac3_51, mp3, multi_audio_subs, vfr, late_audio, piped, no_cues, zlib,
// mpeg4_video, long_640 (12 s at 20 Mbit/s, more than the pipeline buffers), hd_60s.
std::string MakeMkvFixture(const std::string& name);
// The fixture a damaged one was made from (the name itself for the others): what the source
// held before the damage, which ffprobe can still read.
std::string UndamagedFixture(const std::string& name);

struct ProgramRun {
  int exitCode = -1;  // -1 when it did not start, or did not exit by itself
  int signal = 0;     // the signal that ended it
  bool timedOut = false;
  long peakRssKiB = 0;
  size_t outputBytes = 0;
  std::string standardError;
};
// Runs a program (its path first) with standard input from /dev/null and standard output into
// the file given; killed once the time limit has passed.
ProgramRun RunProgram(std::vector<std::string> arguments, const std::string& outputFile = "/dev/null",
                      std::chrono::seconds limit = std::chrono::seconds(600));
// Runs vexa-transcode with the arguments given; standard output goes to /dev/null.
ProgramRun RunTranscode(const std::vector<std::string>& arguments);

struct SourcePacket {
  int64_t pts90;  // presentation time in 90 kHz ticks
  bool key;
};
struct SourceTrack {
  std::string codecType;  // video, audio, subtitle
  std::string codecName;
  std::vector<SourcePacket> packets;  // in file order
};
// The tracks of a file and their packets, as ffprobe reports them.
std::vector<SourceTrack> ProbeTracks(const std::string& path);

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string Problems(const TsReport& report);
// What `ffmpeg -v error -xerror -i path -f null -` prints.
std::string FfmpegDecodeErrors(const std::string& path);

// PIDs of the transport stream's video (H.264) or audio streams, in PMT order.
std::vector<uint16_t> Pids(const TsReport& report, bool video);
