#pragma once
// A title as the framework sees it: one or more parts played one after the other. A plain
// file is one part, its segment. A file that holds several segments plays them in file
// order. An ordered edition plays its chapters in order, each a time range of its own
// segment or of the segment of the same file whose UID the chapter names (chapters that
// name a segment of another file are left out). Each stream walks the parts on its own,
// and times are given on the title's time line.
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "framework/matroska/MkvReader.h"

namespace mkv {

// Bounds what a file can make the title hold: segments of one file and parts of a title.
constexpr size_t kMaxTitleParts = 100;

struct MkvTitlePart {
  size_t segment = 0;       // index into the title's segments
  int64_t start = 0;        // within the segment, 100 ns
  int64_t end = INT64_MAX;  // frames from here on belong to the next part
  int64_t length = 0;       // what the part adds to the title's duration
  int64_t offset = 0;       // where the part begins on the title's time line
};

struct MkvTitlePlan {
  std::vector<MkvTitlePart> parts;
  int64_t duration = 0;
  bool ordered = false;
};

class MkvTitle {
 public:
  // `first` is the opened reader of the file's first segment; it stays the caller's.
  explicit MkvTitle(MkvReader* first);
  MkvTitle(const MkvTitle&) = delete;
  MkvTitle& operator=(const MkvTitle&) = delete;

  // Opens the further segments of the file (at most kMaxTitleParts in all). Anything after
  // the last segment that cannot be read as one ends the list; it is not an error.
  void OpenFurtherSegments();
  size_t SegmentCount() const { return m_segments.size(); }

  // The parts an edition plays (null: the segments of the file in order).
  MkvTitlePlan PlanFor(const MkvEdition* edition);
  // Plays the edition at `index` from now on; the caller seeks afterwards.
  int32_t SelectEdition(uint32_t index);
  // With false, an ordered edition plays as the plain segments of the file; the caller
  // seeks afterwards.
  void AllowOrdered(bool allow);

  int64_t Duration() { return Plan().duration; }
  size_t PartCount() { return Plan().parts.size(); }
  bool Ordered() { return Plan().ordered; }

  // Seeks the part that holds *time, with the time made relative to it, and writes the
  // time reached back on the title's time line; VMF_ERR_END_OF_STREAM past the last part.
  int32_t Seek(int32_t blockType, uint32_t stream, int64_t* time);
  int32_t ReadFrame(int32_t blockType, uint32_t stream, uint8_t* dst, uint32_t capacity, FrameInfo* info);
  // The next frame of any stream in file order, part after part.
  int32_t ReadAnyFrame(uint8_t* dst, uint32_t capacity, FrameInfo* info);
  // The key frame before (or after) `time`, looking into the previous (next) parts when
  // the part holding the time has none.
  int32_t KeyFrameAround(int64_t time, bool after, int64_t* found);

 private:
  const MkvTitlePlan& Plan();
  void Replan();
  const MkvEdition* DefaultEdition() const;
  size_t PartAt(int64_t time) const;
  size_t& StreamPart(int32_t blockType, uint32_t stream);
  bool EnterPart(int32_t blockType, uint32_t stream, size_t from, size_t to);
  int32_t KeyFrameInPart(size_t p, int64_t time, bool after, int64_t* found);

  std::vector<MkvReader*> m_segments;  // [0] is the caller's, the rest in m_owned
  std::vector<std::unique_ptr<MkvReader>> m_owned;
  bool m_haveEdition = false;
  uint32_t m_edition = 0;
  bool m_planned = false;
  bool m_seeked = false;  // every stream was positioned by a seek of the title
  bool m_allowOrdered = true;
  size_t m_anyPart = 0;         // the part ReadAnyFrame reads
  bool m_anyPositioned = false;  // ReadAnyFrame's reader stands in m_anyPart
  MkvTitlePlan m_plan;
  // The part each stream is reading; streams not listed read m_basePart.
  size_t m_basePart = 0;
  std::map<std::pair<int32_t, uint32_t>, size_t> m_streamParts;
};

}  // namespace mkv
