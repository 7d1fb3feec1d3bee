#include "framework/matroska/MkvTitle.h"

#include <algorithm>

#include "framework/VmfErrors.h"
#include "framework/matroska/MkvTime.h"

namespace mkv {
namespace {

// Further segments read the file through the first reader's source, which outlives them.
class BorrowedSource final : public MkvByteSource {
 public:
  explicit BorrowedSource(MkvByteSource* source) : m_source(source) {}
  int32_t ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) override {
    return m_source->ReadAt(offset, dst, count, got);
  }
  uint64_t Size() const override { return m_source->Size(); }

 private:
  MkvByteSource* m_source;
};

int64_t SaturatingAdd(int64_t a, int64_t b) { return b > INT64_MAX - a ? INT64_MAX : a + b; }

// Chapter times are nanoseconds; the title's are 100 ns.
int64_t ChapterTime(uint64_t ns) {
  int64_t time = 0;
  (void)NanosToTime(ns, &time);  // any 64-bit count of nanoseconds fits
  return time;
}

}  // namespace

MkvTitle::MkvTitle(MkvReader* first) { m_segments.push_back(first); }

void MkvTitle::OpenFurtherSegments() {
  MkvReader* last = m_segments.back();
  while (m_segments.size() < kMaxTitleParts && last->SegmentSized()) {
    const uint64_t from = last->SegmentEnd();
    if (from >= last->Source()->Size()) break;
    auto reader = std::make_unique<MkvReader>(std::make_unique<BorrowedSource>(m_segments[0]->Source()));
    if (reader->OpenFrom(from) != VMF_OK || reader->SegmentEnd() <= from) break;
    last = reader.get();
    m_segments.push_back(last);
    m_owned.push_back(std::move(reader));
  }
  m_planned = false;
}

const MkvEdition* MkvTitle::DefaultEdition() const {
  const auto editions = m_segments[0]->Editions();
  if (m_haveEdition) return m_edition < editions.size() ? &editions[m_edition] : nullptr;
  for (const MkvEdition& e : editions)
    if (e.isDefault) return &e;
  return editions.empty() ? nullptr : &editions[0];
}

MkvTitlePlan MkvTitle::PlanFor(const MkvEdition* edition) {
  MkvTitlePlan plan;
  auto add = [&plan](MkvTitlePart part) {
    part.offset = plan.duration;
    plan.duration = SaturatingAdd(plan.duration, part.length);
    plan.parts.push_back(part);
  };
  if (edition != nullptr && edition->ordered && m_allowOrdered) {
    plan.ordered = true;
    for (const MkvChapter& c : edition->chapters) {
      if (plan.parts.size() == kMaxTitleParts) break;
      if (!c.enabled) continue;
      size_t segment = 0;
      if (!c.segmentUid.empty()) {
        segment = m_segments.size();
        for (size_t i = 0; i < m_segments.size(); ++i)
          if (m_segments[i]->Segment().info.segmentUid == c.segmentUid) segment = i;
        if (segment == m_segments.size()) continue;  // in another file
      }
      const int64_t start = ChapterTime(c.start);
      // A chapter without an end runs to the end of its segment.
      const int64_t end = c.hasEnd ? ChapterTime(c.end) : m_segments[segment]->Duration();
      if (end <= start) continue;
      add({segment, start, end, end - start, 0});
    }
    if (!plan.parts.empty()) return plan;
    plan.ordered = false;  // nothing playable: fall back to the segments
  }
  for (size_t i = 0; i < m_segments.size(); ++i) add({i, 0, INT64_MAX, m_segments[i]->Duration(), 0});
  return plan;
}

const MkvTitlePlan& MkvTitle::Plan() {
  if (!m_planned) {
    m_plan = PlanFor(DefaultEdition());
    m_planned = true;
  }
  return m_plan;
}

int32_t MkvTitle::SelectEdition(uint32_t index) {
  if (index >= m_segments[0]->Editions().size()) return VMF_ERR_INDEX_OUT_OF_RANGE;
  m_haveEdition = true;
  m_edition = index;
  Replan();
  return VMF_OK;
}

void MkvTitle::AllowOrdered(bool allow) {
  m_allowOrdered = allow;
  Replan();
}

void MkvTitle::Replan() {
  m_planned = false;
  m_seeked = false;
  m_basePart = 0;
  m_streamParts.clear();
  m_anyPart = 0;
  m_anyPositioned = false;
}

size_t MkvTitle::PartAt(int64_t time) const {
  size_t p = 0;
  while (p + 1 < m_plan.parts.size() && m_plan.parts[p + 1].offset <= time) ++p;
  return p;
}

size_t& MkvTitle::StreamPart(int32_t blockType, uint32_t stream) {
  return m_streamParts.try_emplace({blockType, stream}, m_basePart).first->second;
}

int32_t MkvTitle::Seek(int32_t blockType, uint32_t stream, int64_t* time) {
  const MkvTitlePlan& plan = Plan();
  if (plan.parts.size() > 1 || plan.ordered) {
    // Only a title of several parts ends at its duration; a single segment keeps
    // landing on its last key frame, whatever its stated duration.
    if (*time >= plan.duration) return VMF_ERR_END_OF_STREAM;
  }
  const int64_t target = std::max<int64_t>(*time, 0);
  const size_t p = PartAt(target);
  const MkvTitlePart& part = plan.parts[p];
  int64_t relative = SaturatingAdd(part.start, target - part.offset);
  const int32_t rc = m_segments[part.segment]->Seek(blockType, stream, &relative);
  if (rc != VMF_OK) return rc;
  m_basePart = p;
  m_streamParts.clear();
  m_seeked = true;
  m_anyPart = p;
  m_anyPositioned = true;  // the segment's seek placed its file-order reading too
  *time = part.offset + (relative - part.start);
  return VMF_OK;
}

bool MkvTitle::EnterPart(int32_t blockType, uint32_t stream, size_t from, size_t to) {
  const MkvTitlePart& next = m_plan.parts[to];
  const MkvTitlePart& prev = m_plan.parts[from];
  // A part that continues where the last one stopped in the same segment reads on.
  if (next.segment == prev.segment && next.start == prev.end) return true;
  return m_segments[next.segment]->SeekStream(blockType, stream, next.start) == VMF_OK;
}

int32_t MkvTitle::ReadFrame(int32_t blockType, uint32_t stream, uint8_t* dst, uint32_t capacity,
                            FrameInfo* info) {
  const MkvTitlePlan& plan = Plan();
  if (std::none_of(m_segments.begin(), m_segments.end(),
                   [&](const MkvReader* r) { return r->Stream(blockType, stream) != nullptr; }))
    return VMF_ERR_INVALID_STREAM;
  const bool firstRead = m_streamParts.count({blockType, stream}) == 0;
  size_t& p = StreamPart(blockType, stream);
  if (firstRead && !m_seeked) {
    // Read from the title's start without a seek: the first part may begin anywhere.
    const MkvTitlePart& first = plan.parts[p];
    if (first.segment != 0 || first.start != 0)
      (void)m_segments[first.segment]->SeekStream(blockType, stream, first.start);  // else read on from the start
  }
  // Each pass either reads a frame or moves to a later part, so the loop is bounded.
  while (p < plan.parts.size()) {
    const MkvTitlePart& part = plan.parts[p];
    MkvReader& r = *m_segments[part.segment];
    if (r.Stream(blockType, stream) != nullptr) {
      int64_t next = 0;
      const int32_t rc = r.NextFrameTime(blockType, stream, &next);
      if (rc != VMF_OK && rc != VMF_ERR_END_OF_STREAM) return rc;
      if (rc == VMF_OK && next < part.end) {
        const int32_t read = r.ReadFrame(blockType, stream, dst, capacity, info);
        if (read == VMF_OK) info->time = SaturatingAdd(part.offset, info->time - part.start);
        return read;
      }
    }
    // This part is done for the stream: the next one it can be positioned in.
    size_t to = p + 1;
    while (to < plan.parts.size() &&
           (m_segments[plan.parts[to].segment]->Stream(blockType, stream) == nullptr ||
            !EnterPart(blockType, stream, p, to)))
      ++to;
    p = to;
  }
  return VMF_ERR_END_OF_STREAM;
}

int32_t MkvTitle::ReadAnyFrame(uint8_t* dst, uint32_t capacity, FrameInfo* info) {
  const MkvTitlePlan& plan = Plan();
  for (; m_anyPart < plan.parts.size(); ++m_anyPart, m_anyPositioned = false) {
    const MkvTitlePart& part = plan.parts[m_anyPart];
    MkvReader& r = *m_segments[part.segment];
    const MkvTitlePart* prev = m_anyPart > 0 ? &plan.parts[m_anyPart - 1] : nullptr;
    // A part that continues where the last one stopped in the same segment reads on.
    const bool readsOn = prev != nullptr && prev->segment == part.segment && prev->end == part.start;
    if (!m_anyPositioned && !readsOn) {
      if (part.start == 0)
        r.RewindAny();
      else if (r.SeekAny(part.start) != VMF_OK)
        continue;
    }
    m_anyPositioned = true;
    const int32_t rc = r.ReadAnyFrame(dst, capacity, info, part.end);
    if (rc == VMF_ERR_END_OF_STREAM) continue;
    if (rc == VMF_OK) info->time = SaturatingAdd(part.offset, info->time - part.start);
    return rc;
  }
  return VMF_ERR_END_OF_STREAM;
}

int32_t MkvTitle::KeyFrameInPart(size_t p, int64_t time, bool after, int64_t* found) {
  const MkvTitlePart& part = m_plan.parts[p];
  int64_t relative = SaturatingAdd(part.start, std::max<int64_t>(time - part.offset, 0));
  // At or past the part's end, the key frame before is the part's last one.
  if (!after && relative >= part.end) relative = part.end - 1;
  int64_t hit = 0;
  const int32_t rc = m_segments[part.segment]->KeyFrameAround(relative, after, &hit);
  if (rc != VMF_OK || hit < part.start || hit >= part.end) return VMF_ERR_END_OF_STREAM;
  *found = SaturatingAdd(part.offset, hit - part.start);
  return VMF_OK;
}

int32_t MkvTitle::KeyFrameAround(int64_t time, bool after, int64_t* found) {
  const MkvTitlePlan& plan = Plan();
  size_t p = PartAt(std::max<int64_t>(time, 0));
  for (;;) {
    if (KeyFrameInPart(p, time, after, found) == VMF_OK) return VMF_OK;
    if (after) {
      if (++p >= plan.parts.size()) return VMF_ERR_END_OF_STREAM;
      time = plan.parts[p].offset;  // from the start of the next part
    } else {
      if (p-- == 0) return VMF_ERR_END_OF_STREAM;
      time = plan.parts[p].offset + std::max<int64_t>(plan.parts[p].length - 1, 0);  // its last instant
    }
  }
}

}  // namespace mkv
