// Test media made with FFmpeg at test time (elementary streams and per-packet timing), and the
// real pipeline they run through: memory connection -> pass-through decoder and encoder ->
// pipe buffer -> multiplexer library -> sink -> Read.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct EsSample {
  int64_t ptsMs;
  std::vector<uint8_t> bytes;
};

struct EsStream {
  int32_t code;  // 10, 132, 143, 150
  std::vector<EsSample> samples;  // decode order
};

// Encodes a source with FFmpeg (H.264 with B-frame pyramids plus the given audio codecs) into
// dir unless it is there, and extracts each stream: "aac", "ac3", "mp3". Empty on failure.
std::vector<EsStream> MakeFixture(const std::string& dir, const std::string& name, const std::string& videoSize,
                                  int seconds, const std::vector<std::string>& audioCodecs);

// Runs one shell command; true when it exited with 0. Output goes to the file given (or nowhere).
bool RunCommand(const std::string& command, const std::string& outputFile = "/dev/null");
std::string ReadFileText(const std::string& path);

struct PipelineRun {
  std::vector<uint8_t> output;
  int32_t readResultAtEnd = 0;
};

struct FeedPass {
  int64_t shiftMs;  // added to every source time of this pass
};

// Feeds every stream through the pipeline once per pass, like the demultiplexer: the stream
// whose last sample is earliest goes next, and the first video sample of a pass is the
// delimiter and parameter sets alone. Then closes the multiplexer and reads the sink to its end.
// Paced, each sample waits until the library has taken the one before (a source slower than
// the multiplexer); otherwise everything is fed at once and mostly multiplexed while closing.
PipelineRun RunPipeline(const std::vector<EsStream>& streams, const std::vector<FeedPass>& passes,
                        bool paced = false);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
