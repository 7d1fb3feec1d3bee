// Hostile inputs for the programs that read media files: a small sound Matroska file and
// every damaged variant the tests throw at the readers, made here rather than kept as blobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace HostileFiles {

using Bytes = std::vector<uint8_t>;

struct Variant {
  std::string kind;  // what was done to the file, for the report table
  std::string name;  // unique within the set, usable as a file name
  Bytes bytes;
};

// H.264 video (with its parameter sets) and AAC audio in three clusters, with cues and a
// seek head, as a muxer writes them.
Bytes SoundFile();

// Every variant of `base`: truncated at each element boundary, bit flips, element sizes
// larger than the file and zero, deep nesting, laced blocks of 255 frames whose sizes do
// not add up, and times no 64-bit count can hold.
std::vector<Variant> Variants(const Bytes& base);

struct Special {
  std::string kind;
  std::string path;
};
// Paths that are no regular file, made in `dir`: a directory, a FIFO with no writer, and
// /dev/zero behind a name ending in ".mkv".
std::vector<Special> MakeSpecialFiles(const std::string& dir);

}  // namespace HostileFiles
