// The Matroska corpus the end-to-end tests remultiplex, made with FFmpeg and mkvmerge at test
// time, and the means to run vexa-transcode on it and to compare what comes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TsChecker.h"

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
  int exitCode = -1;
  long peakRssKiB = 0;
  std::string standardError;
};
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
// What the decoders alone report for path, without FFmpeg's own re-timing of the frames: for a
// stream that jumps back in time, which the command line's muxing of decoded frames takes for
// an error.
std::string DecoderErrors(const std::string& path);

// PIDs of the transport stream's video and audio streams, in PMT order.
std::vector<uint16_t> VideoPids(const TsReport& report);
std::vector<uint16_t> AudioPids(const TsReport& report);
// NAL unit types found after start codes in an H.264 access unit.
std::vector<int> NalTypes(const std::vector<uint8_t>& accessUnit);
