// Seeking by time: where a stream resumes, and the key frames around a time. Seek points
// come from the cues of the reference track or, without cues, from an index of the clusters
// built on first use; each covers the blocks up to the next seek point in the file (its
// region). A search takes the last seek point at or before the target by binary search and
// reads its region, and at most kMaxRegionsScanned regions before it, so its cost does not
// grow with the file, whatever order the clusters stand in.
#include <algorithm>

#include "framework/matroska/MkvElements.h"
#include "framework/matroska/MkvReader.h"
#include "framework/VmfErrors.h"
#include "framework/matroska/MkvTime.h"

namespace mkv {

const MkvTrack* MkvReader::ReferenceTrack(const MkvTrack* requested) const {
  const MkvTrack* video = Stream(kBlockVideo, 0);
  return video != nullptr ? video : requested;
}

void MkvReader::BuildClusterIndex() {
  m_clusterIndexBuilt = true;
  uint64_t pos = m_segment.firstCluster;
  if (pos == 0) return;
  while (pos < m_segment.dataEnd) {
    ElementHeader e;
    const int32_t rc = ReadElementHeader(m_file, pos, m_segment.dataEnd, &e, true);
    if (rc == VMF_SHORT_READ) break;
    if (rc == VMF_OK && !IsSegmentChild(e.id) && SkippableBySize(m_file, m_segment, e)) {
      pos = e.End();
      continue;
    }
    if (rc != VMF_OK || !IsSegmentChild(e.id)) {
      if (!FindSegmentChild(m_file, m_segment, pos, kCursorResyncLimit, &pos)) break;
      continue;
    }
    if (e.id != el::CLUSTER) {
      if (e.unknownSize || e.clipped) {
        if (!FindSegmentChild(m_file, m_segment, pos, kCursorResyncLimit, &pos)) break;
      } else {
        pos = e.End();
      }
      continue;
    }
    // The cluster's timecode, and its end when its size is unknown.
    uint64_t timecode = 0, child = e.data;
    bool haveTimecode = false;
    while (child < e.End()) {
      ElementHeader c;
      if (ReadElementHeader(m_file, child, e.End(), &c, true) != VMF_OK || IsSegmentChild(c.id)) break;
      if (c.id == el::TIMECODE && !haveTimecode) haveTimecode = ReadUnsigned(m_file, c, &timecode) == VMF_OK;
      if (!e.unknownSize && haveTimecode) {
        child = e.End();
        break;
      }
      child = c.End();
    }
    if (m_clusterIndex.size() == kClusterIndexEntries) {
      // Full: keep every other entry and record only every other cluster from now on;
      // a seek scans forward from the entry before its target, so it still lands right.
      for (size_t i = 0; i < kClusterIndexEntries / 2; ++i) m_clusterIndex[i] = m_clusterIndex[2 * i];
      m_clusterIndex.resize(kClusterIndexEntries / 2);
      m_clusterIndexStride *= 2;
    }
    if (m_clusterCount++ % m_clusterIndexStride == 0) m_clusterIndex.push_back({pos, timecode});
    m_lastCluster = pos;
    pos = e.unknownSize || e.clipped ? child : e.End();
    if (pos <= e.start) break;
  }
}

const std::vector<MkvReader::SeekPoint>& MkvReader::SeekPoints(const MkvTrack& ref) {
  if (m_seekPointsTrack == ref.number) return m_seekPoints;
  m_seekPointsTrack = ref.number;
  m_seekPoints.clear();
  for (const MkvCuePoint& cue : m_cues) {
    int64_t time = 0;
    if (cue.track != ref.number || cue.clusterPosition >= m_segment.dataEnd - m_segment.dataStart) continue;
    if (BlockTime(m_segment, ref, cue.time, 0, &time)) m_seekPoints.push_back({time, m_segment.dataStart + cue.clusterPosition, 0});
  }
  if (m_seekPoints.empty()) {
    if (!m_clusterIndexBuilt) BuildClusterIndex();
    for (const ClusterEntry& c : m_clusterIndex) {
      int64_t time = 0;
      if (BlockTime(m_segment, ref, c.timecode, 0, &time)) m_seekPoints.push_back({time, c.position, 0});
    }
  }
  // A region ends where the next seek point in file order begins.
  std::vector<uint64_t> starts;
  for (const SeekPoint& p : m_seekPoints) starts.push_back(p.position);
  std::sort(starts.begin(), starts.end());
  for (SeekPoint& p : m_seekPoints) {
    const auto next = std::upper_bound(starts.begin(), starts.end(), p.position);
    p.regionEnd = next == starts.end() ? m_segment.dataEnd : *next;
  }
  // By time; of equal times the earliest in the file comes last, where a search lands.
  std::sort(m_seekPoints.begin(), m_seekPoints.end(), [](const SeekPoint& a, const SeekPoint& b) {
    return a.time != b.time ? a.time < b.time : a.position > b.position;
  });
  m_firstBlockKnown = false;
  return m_seekPoints;
}

int32_t MkvReader::FirstBlock(const MkvTrack& ref, BlockRef* out) {
  if (!m_firstBlockKnown) {
    MkvBlockCursor cursor(m_file, m_segment, ref.number);
    for (;;) {
      const int32_t rc = cursor.NextBlock(&m_firstBlock);
      if (rc != VMF_OK) return rc == VMF_ERR_END_OF_STREAM ? VMF_ERR_SEEK_FAILURE : rc;
      if (m_firstBlock.timeValid) break;
    }
    m_firstBlockKnown = true;
  }
  *out = m_firstBlock;
  return VMF_OK;
}

int32_t MkvReader::ScanRegion(const MkvTrack& ref, const SeekPoint& point, int64_t target, RegionScan* out) {
  *out = RegionScan{};
  MkvBlockCursor cursor(m_file, m_segment, ref.number);
  cursor.Reset(point.position, ClusterState{});
  for (;;) {
    BlockRef b;
    const int32_t rc = cursor.NextBlock(&b);
    if (rc == VMF_ERR_END_OF_STREAM) return VMF_OK;
    if (rc != VMF_OK) return rc;
    if (b.elementPos >= point.regionEnd) return VMF_OK;
    if (!b.timeValid) continue;
    if (!out->haveFirst) {
      out->first = b;
      out->haveFirst = true;
    }
    if (!b.key) continue;
    if (b.time <= target) {
      out->before = b;
      out->haveBefore = true;
    } else if (!out->haveAfter) {
      out->after = b;
      out->haveAfter = true;
    }
  }
}

size_t MkvReader::PointsAtOrBefore(int64_t target) const {
  const auto it = std::upper_bound(m_seekPoints.begin(), m_seekPoints.end(), target,
                                   [](int64_t t, const SeekPoint& p) { return t < p.time; });
  return static_cast<size_t>(it - m_seekPoints.begin());
}

int32_t MkvReader::LocateKeyFrame(const MkvTrack& ref, int64_t target, BlockRef* hit) {
  const std::vector<SeekPoint>& points = SeekPoints(ref);
  BlockRef first;
  int32_t rc = FirstBlock(ref, &first);
  if (rc != VMF_OK) return rc;
  // A seek to the start (or before it) always resumes at the first block.
  const size_t count = PointsAtOrBefore(target);
  if (target <= first.time || count == 0) {
    *hit = first;
    return VMF_OK;
  }
  RegionScan nearest;
  for (size_t n = 0; n < kMaxRegionsScanned && n < count; ++n) {
    RegionScan scan;
    rc = ScanRegion(ref, points[count - 1 - n], target, &scan);
    if (rc != VMF_OK) return rc;
    if (scan.haveBefore) {
      *hit = scan.before;
      return VMF_OK;
    }
    if (n == 0) nearest = scan;
  }
  // No key frame flagged near the target: the seek point itself (cues point at key frames),
  // else the first block of its cluster.
  *hit = nearest.haveFirst ? nearest.first : first;
  return VMF_OK;
}

int32_t MkvReader::NextKeyFrame(const MkvTrack& ref, int64_t target, BlockRef* hit) {
  const std::vector<SeekPoint>& points = SeekPoints(ref);
  const size_t count = PointsAtOrBefore(target);
  const size_t from = count == 0 ? 0 : count - 1;
  for (size_t i = from; i < points.size() && i < from + kMaxRegionsScanned; ++i) {
    RegionScan scan;
    const int32_t rc = ScanRegion(ref, points[i], target - 1, &scan);
    if (rc != VMF_OK) return rc;
    if (scan.haveAfter) {
      *hit = scan.after;
      return VMF_OK;
    }
    // A region past the target without key flags: its seek point is the sync point.
    if (i > from && scan.haveFirst && scan.first.time >= target) {
      *hit = scan.first;
      return VMF_OK;
    }
  }
  return VMF_ERR_END_OF_STREAM;
}

int32_t MkvReader::Seek(int32_t blockType, uint32_t stream, int64_t* time) {
  const MkvTrack* requested = Stream(blockType, stream);
  if (requested == nullptr) return VMF_ERR_INVALID_STREAM;
  const MkvTrack* ref = ReferenceTrack(requested);
  BlockRef hit;
  const int32_t rc = LocateKeyFrame(*ref, *time, &hit);
  if (rc != VMF_OK) return rc;
  for (const MkvTrack& t : m_segment.tracks)
    if (t.blockType != 0) PositionCursor(t, *ref, hit);
  AnyCursor().Reset(hit.cluster.data, hit.cluster, hit.time);
  *time = hit.time;
  return VMF_OK;
}

int32_t MkvReader::SeekAny(int64_t time) {
  const MkvTrack* ref = ReferenceTrack(nullptr);
  for (size_t i = 0; ref == nullptr && i < m_segment.tracks.size(); ++i)
    if (m_segment.tracks[i].blockType != 0) ref = &m_segment.tracks[i];
  if (ref == nullptr) return VMF_ERR_END_OF_STREAM;
  BlockRef hit;
  const int32_t rc = LocateKeyFrame(*ref, time, &hit);
  if (rc != VMF_OK) return rc;
  AnyCursor().Reset(hit.cluster.data, hit.cluster, hit.time);
  return VMF_OK;
}

void MkvReader::PositionCursor(const MkvTrack& t, const MkvTrack& ref, const BlockRef& hit) {
  // The reference track resumes at its key frame; the others at the start of that key
  // frame's cluster, passing over what comes before the key frame's time.
  if (&t == &ref)
    CursorFor(t).Reset(hit.elementPos, hit.cluster);
  else
    CursorFor(t).Reset(hit.cluster.data, hit.cluster, hit.time);
}

int32_t MkvReader::SeekStream(int32_t blockType, uint32_t stream, int64_t time) {
  const MkvTrack* t = Stream(blockType, stream);
  if (t == nullptr) return VMF_ERR_INVALID_STREAM;
  const MkvTrack* ref = ReferenceTrack(t);
  BlockRef hit;
  const int32_t rc = LocateKeyFrame(*ref, time, &hit);
  if (rc != VMF_OK) return rc;
  PositionCursor(*t, *ref, hit);
  return VMF_OK;
}

int32_t MkvReader::NextFrameTime(int32_t blockType, uint32_t stream, int64_t* time) {
  const MkvTrack* t = Stream(blockType, stream);
  if (t == nullptr) return VMF_ERR_INVALID_STREAM;
  MkvFrame frame;
  const int32_t rc = CursorFor(*t).PeekFrame(&frame);
  if (rc == VMF_OK) *time = frame.time;
  return rc;
}

int32_t MkvReader::KeyFrameAround(int64_t time, bool after, int64_t* found) {
  const MkvTrack* ref = ReferenceTrack(nullptr);
  if (ref == nullptr) return VMF_ERR_END_OF_STREAM;
  BlockRef hit;
  const int32_t rc = after ? NextKeyFrame(*ref, time, &hit) : LocateKeyFrame(*ref, time, &hit);
  if (rc != VMF_OK || (!after && hit.time > time)) return VMF_ERR_END_OF_STREAM;
  *found = hit.time;
  return VMF_OK;
}

int64_t MkvReader::Duration() {
  const MkvSegmentInfo& info = m_segment.info;
  int64_t stated = 0;
  if (info.hasDuration && FloatTicksToTime(info.duration, info.timecodeScale, &stated)) return stated;
  if (m_durationMeasured) return m_measuredDuration;
  m_durationMeasured = true;
  if (!m_clusterIndexBuilt) BuildClusterIndex();
  if (m_lastCluster == 0) return 0;
  // The end of the last block of the last cluster.
  MkvBlockCursor cursor(m_file, m_segment, 0);
  cursor.Reset(m_lastCluster, ClusterState{});
  BlockRef b;
  while (cursor.NextBlock(&b) == VMF_OK) {
    int64_t duration = b.hasDuration ? b.duration : 0;
    if (!b.hasDuration && b.track->hasDefaultDuration && !NanosToTime(b.track->defaultDuration, &duration)) continue;
    // Both lie within ±kMaxTime, so the sum fits.
    if (b.timeValid) m_measuredDuration = std::max(m_measuredDuration, b.time + duration);
  }
  return m_measuredDuration;
}


}  // namespace mkv
