#pragma once
// The Matroska reader's context: the header elements of one segment, one block cursor per
// stream, and seeking by time. The framework module is a thin layer over it.
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "framework/VmfErrors.h"
#include "framework/matroska/MkvBlockCursor.h"
#include "framework/matroska/MkvByteSource.h"
#include "framework/matroska/MkvFileCache.h"
#include "framework/matroska/MkvSegment.h"

namespace mkv {

// Limits that keep a hostile file from claiming unbounded memory; entries past them are
// ignored.
constexpr size_t kMaxTracks = 256;
constexpr size_t kMaxCuePoints = 1 << 20;
constexpr size_t kMaxEntries = 65536;  // chapters, tags, attachments, seek entries
constexpr int kMaxNesting = 16;        // chapter atoms and simple tags inside each other
// Steps of the byte-by-byte search after an unknown element between the header elements.
constexpr int kHeaderResyncSteps = 1000;
// The on-the-fly cluster index: 160000 bytes of 16-byte entries.
constexpr size_t kClusterIndexEntries = 160000 / 16;
// How many regions before (or after) the target a key-frame search reads before it settles
// for the seek point itself.
constexpr size_t kMaxRegionsScanned = 64;

struct FrameInfo {
  int32_t blockType = 0;
  uint32_t stream = 0;
  uint32_t size = 0;  // bytes written, or needed when the buffer is too small
  bool key = false;
  bool laced = false;  // one of several frames of a laced block
  int64_t time = 0, duration = 0;
};

class MkvReader {
 public:
  explicit MkvReader(std::unique_ptr<MkvByteSource> source);
  MkvReader(const MkvReader&) = delete;
  MkvReader& operator=(const MkvReader&) = delete;

  // Reads the EBML header and the segment's header elements. Returns 0 or the parse
  // error of the element that failed.
  int32_t Open();
  // Opens the first segment found at or after `from` instead (further segments of a file
  // that holds several); VMF_ERR_INVALID_FILE when there is none.
  int32_t OpenFrom(uint64_t from);
  // Where the segment ends; false from SegmentSized() when its size is unknown and it
  // runs to the end of the file.
  uint64_t SegmentEnd() const { return m_segment.dataEnd; }
  bool SegmentSized() const { return !m_segmentUnsized; }
  MkvByteSource* Source() const { return m_source.get(); }

  const MkvSegment& Segment() const { return m_segment; }
  std::span<const MkvCuePoint> Cues() const { return m_cues; }
  std::span<const MkvEdition> Editions() const { return m_editions; }
  std::span<const MkvTag> Tags() const { return m_tags; }
  std::span<const MkvAttachment> Attachments() const { return m_attachments; }
  uint64_t FileSize() const { return m_file.Size(); }
  // Reads attachment bytes [offset, offset + count) into dst.
  int32_t ReadAttachment(size_t index, uint8_t* dst, uint64_t count);

  uint32_t StreamCount(int32_t blockType) const;
  MkvTrack* Stream(int32_t blockType, uint32_t stream);
  const MkvTrack* Stream(int32_t blockType, uint32_t stream) const;

  // The next frame of one stream into dst. VMF_OUT_OF_MEMORY (with info->size the size
  // needed) leaves the frame to be read again; VMF_ERR_END_OF_STREAM after the last.
  int32_t ReadFrame(int32_t blockType, uint32_t stream, uint8_t* dst, uint32_t capacity,
                    FrameInfo* info);
  // The next frame of any stream, in file order; VMF_ERR_END_OF_STREAM, leaving the frame where it
  // is, when its time is `end` or later.
  int32_t ReadAnyFrame(uint8_t* dst, uint32_t capacity, FrameInfo* info, int64_t end = INT64_MAX);
  // Positions the reading in file order at `time`, as Seek positions the streams.
  int32_t SeekAny(int64_t time);
  // Reading in file order starts over at the first cluster.
  void RewindAny() { AnyCursor().Reset(m_segment.firstCluster != 0 ? m_segment.firstCluster : m_segment.dataEnd, {}); }

  // Positions every stream at the last key frame of the first video track (else of the
  // given stream) at or before *time, and writes that key frame's time back.
  int32_t Seek(int32_t blockType, uint32_t stream, int64_t* time);
  // Positions one stream only, as Seek would position it for `time`.
  int32_t SeekStream(int32_t blockType, uint32_t stream, int64_t time);
  // The time of the stream's next frame, without taking it.
  int32_t NextFrameTime(int32_t blockType, uint32_t stream, int64_t* time);
  // Key frame times of the reference track around `time`, for the sync-time queries.
  int32_t KeyFrameAround(int64_t time, bool after, int64_t* found);
  // Title duration in 100-ns units; measured from the last blocks when the segment does
  // not state it (files written to a pipe).
  int64_t Duration();

 private:
  struct SeekPoint {
    int64_t time;  // 100 ns
    uint64_t position;
    uint64_t regionEnd;  // where the next seek point in file order begins
  };
  struct ClusterEntry {
    uint64_t position;
    uint64_t timecode;
  };
  // What one region holds of the reference track: its first block, the last key frame at or
  // before the target and the first key frame after it.
  struct RegionScan {
    bool haveFirst = false, haveBefore = false, haveAfter = false;
    BlockRef first, before, after;
  };

  int32_t ReadEbmlHeader(uint64_t* next);
  int32_t FindSegment(uint64_t from);
  int32_t ScanHeaderElements();
  int32_t ReadTopLevel(const ElementHeader& e);
  int32_t FollowSeekHead();
  int32_t ReadSeekHead(const ElementHeader& e);
  int32_t ReadSegmentInfo(const ElementHeader& e);
  int32_t ReadTracks(const ElementHeader& e);
  int32_t ReadTrackEntry(const ElementHeader& e, MkvTrack* t);
  int32_t ReadVideo(const ElementHeader& e, MkvTrack* t);
  int32_t ReadAudio(const ElementHeader& e, MkvTrack* t);
  int32_t ReadContentEncodings(const ElementHeader& e, MkvTrack* t);
  int32_t ReadCues(const ElementHeader& e);
  int32_t ReadCuePoint(const ElementHeader& e);
  int32_t ReadChapters(const ElementHeader& e);
  int32_t ReadEdition(const ElementHeader& e, MkvEdition* edition);
  int32_t ReadChapterAtom(const ElementHeader& e, MkvChapter* chapter, int depth);
  int32_t ReadAttachments(const ElementHeader& e);
  int32_t ReadTags(const ElementHeader& e);
  int32_t ReadTag(const ElementHeader& e, MkvTag* tag);
  int32_t ReadSimpleTag(const ElementHeader& e, MkvSimpleTag* st, int depth);
  void NumberStreams();

  // Calls f on each child of `parent` in turn; the first failure ends the walk.
  template <class F>
  int32_t ForEachChild(const ElementHeader& parent, F&& f) {
    for (uint64_t pos = parent.data; pos < parent.End();) {
      ElementHeader c;
      int32_t rc = ReadElementHeader(m_file, pos, parent.End(), &c);
      if (rc == VMF_OK) rc = f(c);
      if (rc != VMF_OK) return rc;
      pos = c.End();
    }
    return VMF_OK;
  }

  const MkvTrack* ReferenceTrack(const MkvTrack* requested) const;
  void BuildClusterIndex();
  const std::vector<SeekPoint>& SeekPoints(const MkvTrack& ref);
  size_t PointsAtOrBefore(int64_t target) const;
  int32_t FirstBlock(const MkvTrack& ref, BlockRef* out);
  int32_t ScanRegion(const MkvTrack& ref, const SeekPoint& point, int64_t target, RegionScan* out);
  int32_t LocateKeyFrame(const MkvTrack& ref, int64_t target, BlockRef* hit);
  int32_t NextKeyFrame(const MkvTrack& ref, int64_t target, BlockRef* hit);
  void PositionCursor(const MkvTrack& t, const MkvTrack& ref, const BlockRef& hit);
  int32_t ReadSegmentHeaders();
  MkvBlockCursor& CursorFor(const MkvTrack& t);
  MkvBlockCursor& AnyCursor();
  int32_t Deliver(MkvBlockCursor& cursor, uint8_t* dst, uint32_t capacity, FrameInfo* info);

  std::unique_ptr<MkvByteSource> m_source;
  MkvFileCache m_file;
  MkvSegment m_segment;
  std::vector<MkvCuePoint> m_cues;
  std::vector<MkvEdition> m_editions;
  std::vector<MkvTag> m_tags;
  std::vector<MkvAttachment> m_attachments;
  std::vector<std::pair<uint32_t, uint64_t>> m_seekEntries;  // ID, position
  std::set<uint64_t> m_parsed;  // offsets of the top-level elements already read
  bool m_haveTracks = false;
  bool m_segmentUnsized = false;
  bool m_clusterIndexBuilt = false;
  std::vector<ClusterEntry> m_clusterIndex;
  uint32_t m_clusterIndexStride = 1;
  uint64_t m_clusterCount = 0;
  uint64_t m_lastCluster = 0;
  std::vector<SeekPoint> m_seekPoints;  // of the track m_seekPointsTrack, by time
  uint64_t m_seekPointsTrack = 0;
  bool m_firstBlockKnown = false;
  BlockRef m_firstBlock;
  bool m_durationMeasured = false;
  int64_t m_measuredDuration = 0;
  std::vector<std::unique_ptr<MkvBlockCursor>> m_cursors;  // one per track, by track index
  std::unique_ptr<MkvBlockCursor> m_anyCursor;
};

}  // namespace mkv
