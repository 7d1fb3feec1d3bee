#pragma once
// What the reader learns from a segment's header elements.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/matroska/MkvTrack.h"

namespace mkv {

struct MkvSegmentInfo {
  uint64_t timecodeScale = 1000000;  // nanoseconds per timecode tick
  double duration = 0.0;             // in ticks
  bool hasDuration = false;
  std::string title, muxingApp, writingApp, fileName, prevFileName, nextFileName;
  std::vector<uint8_t> segmentUid, prevUid, nextUid;
};

struct MkvCuePoint {
  uint64_t time = 0;  // ticks
  uint64_t track = 0;
  uint64_t clusterPosition = 0;  // from the start of the segment's data
  uint64_t blockNumber = 0;
};

struct MkvChapterDisplay {
  std::string string, language = "eng", country;
};

struct MkvChapter {
  uint64_t uid = 0;
  uint64_t start = 0, end = 0;  // nanoseconds
  bool hasEnd = false;
  bool hidden = false, enabled = true;
  std::vector<uint8_t> segmentUid;
  uint64_t segmentEditionUid = 0;
  std::vector<uint64_t> tracks;
  std::vector<MkvChapterDisplay> displays;
  std::vector<MkvChapter> children;
};

struct MkvEdition {
  uint64_t uid = 0;
  bool hidden = false, isDefault = false, ordered = false;
  std::vector<MkvChapter> chapters;
};

struct MkvSimpleTag {
  std::string name, string, language = "und";
  bool original = true;
  std::vector<uint8_t> binary;
  std::vector<MkvSimpleTag> children;
};

struct MkvTag {
  uint64_t targetTypeValue = 50;
  std::string targetType;
  std::vector<uint64_t> trackUids, editionUids, chapterUids, attachmentUids;
  std::vector<MkvSimpleTag> simpleTags;
};

struct MkvAttachment {
  std::string description, name, mimeType;
  uint64_t uid = 0;
  uint64_t dataOffset = 0, dataSize = 0;  // the bytes stay in the file
  uint64_t startTime = 0, endTime = 0;
};

// Where blocks are and how their times scale: what the block cursors need.
struct MkvSegment {
  uint64_t dataStart = 0, dataEnd = 0;
  uint64_t firstCluster = 0;  // 0 when the header scan met no cluster
  MkvSegmentInfo info;
  std::vector<MkvTrack> tracks;

  const MkvTrack* TrackByNumber(uint64_t number) const {
    for (const MkvTrack& t : tracks)
      if (t.number == number) return &t;
    return nullptr;
  }
};

}  // namespace mkv
