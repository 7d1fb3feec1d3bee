#pragma once
// A read position in the clusters of a segment. Each stream has its own cursor, which
// walks the clusters element by element, stops at the blocks of its track, splits laced
// blocks and undoes content compression.
#include <cstdint>
#include <vector>

#include "framework/matroska/MkvEbml.h"
#include "framework/matroska/MkvLacing.h"
#include "framework/matroska/MkvSegment.h"
#include "platform/os/ByteBuffer.h"

namespace mkv {

// Largest block payload the reader accepts; anything larger is damage.
constexpr uint64_t kMaxBlockSize = 256ull * 1024 * 1024;
// How far a cursor searches for the next segment-level element after damage.
constexpr uint64_t kCursorResyncLimit = 16ull * 1024 * 1024;

struct ClusterState {
  bool inside = false;
  uint64_t start = 0;  // the cluster element's own offset
  uint64_t data = 0, end = 0;
  uint64_t timecode = 0;
};

// One Block or SimpleBlock as found, before its frames are read.
struct BlockRef {
  uint64_t elementPos = 0;  // the SimpleBlock or BlockGroup
  uint64_t payload = 0, payloadSize = 0;
  const MkvTrack* track = nullptr;
  uint8_t flags = 0;
  bool hasDuration = false;
  int64_t duration = 0;  // 100 ns
  int64_t time = 0;      // 100 ns
  bool timeValid = true;  // false: the time or duration the file states cannot be represented
  bool key = false;
  ClusterState cluster;
};

struct MkvFrame {
  const MkvTrack* track = nullptr;
  int64_t time = 0, duration = 0;
  bool key = false;
  bool laced = false;  // one of several frames of a block
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Block time in 100-ns units: (cluster timecode + relative) × track scale × segment scale ÷ 100;
// false when it cannot be represented.
bool BlockTime(const MkvSegment& segment, const MkvTrack& track, uint64_t clusterTimecode, int64_t relative,
               int64_t* time);

class MkvBlockCursor {
 public:
  // trackNumber 0 follows every track the framework delivers.
  MkvBlockCursor(MkvFileCache& file, const MkvSegment& segment, uint64_t trackNumber);

  // Continues at `pos`, inside `cluster` when it says so; frames earlier than `minTime`
  // are passed over.
  void Reset(uint64_t pos, const ClusterState& cluster, int64_t minTime = INT64_MIN);
  // The next block of the cursor's track; VMF_ERR_END_OF_STREAM after the last.
  int32_t NextBlock(BlockRef* out);
  // The current frame; it stays current until Advance(). A frame that cannot be decoded
  // is passed over and its error returned.
  int32_t PeekFrame(MkvFrame* out);
  void Advance();

 private:
  int32_t ScanClusterChild(const ElementHeader& e, BlockRef* out, bool* found);
  int32_t InspectBlock(const ElementHeader& block, BlockRef* out, bool* found);
  int32_t InspectGroup(const ElementHeader& group, BlockRef* out, bool* found);
  void FinishBlockRef(BlockRef* out) const;
  int32_t LoadBlock(const BlockRef& ref);
  int32_t DecodeCurrentFrame(MkvFrame* out);
  bool Resync(uint64_t from);

  MkvFileCache& m_file;
  const MkvSegment& m_segment;
  uint64_t m_trackNumber;
  uint64_t m_pos = 0;
  ClusterState m_cluster;
  int64_t m_minTime = INT64_MIN;

  // The block being delivered frame by frame.
  bool m_haveBlock = false;
  BlockRef m_block;
  ByteBuffer m_blockBytes;  // each block read over whatever the last one left
  LaceLayout m_lace;
  size_t m_frameOffset = 0;  // into m_blockBytes
  uint32_t m_frameIndex = 0;
  bool m_frameReady = false;
  MkvFrame m_frame;
  std::vector<uint8_t> m_frameBytes;
};

// True when `e`, whatever its ID, can be stepped over by its size: the size is known, the
// element lies inside the segment, and the segment's end or another element header follows
// it. Elements the reader does not know are skipped so; damage is searched past instead.
bool SkippableBySize(MkvFileCache& file, const MkvSegment& segment, const ElementHeader& e);

// Offset of the next segment-level element (its four-byte ID and a header that fits the
// segment) after `from`, searching at most `limit` bytes; false when there is none.
bool FindSegmentChild(MkvFileCache& file, const MkvSegment& segment, uint64_t from,
                      uint64_t limit, uint64_t* found);

}  // namespace mkv
