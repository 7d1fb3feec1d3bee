#include "framework/matroska/MkvBlockCursor.h"

#include <algorithm>
#include <cstring>

#include "framework/matroska/MkvContentEncoding.h"
#include "framework/matroska/MkvElements.h"
#include "framework/VmfErrors.h"
#include "framework/matroska/MkvTime.h"

namespace mkv {
namespace {

bool Delivered(const MkvTrack* track) { return track != nullptr && track->blockType != 0; }

bool IsKnownClusterChild(uint32_t id) {
  switch (id) {
    case el::TIMECODE: case el::SIMPLEBLOCK: case el::BLOCKGROUP: case el::POSITION:
    case el::PREVSIZE: case el::VOID: case el::CRC:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool BlockTime(const MkvSegment& segment, const MkvTrack& track, uint64_t clusterTimecode, int64_t relative,
               int64_t* time) {
  return TicksToTime(static_cast<WideTicks>(clusterTimecode) + relative, track.timecodeScale,
                     segment.info.timecodeScale, time);
}

bool SkippableBySize(MkvFileCache& file, const MkvSegment& segment, const ElementHeader& e) {
  if (e.unknownSize || e.clipped || e.End() > segment.dataEnd) return false;
  if (e.End() == segment.dataEnd) return true;
  ElementHeader next;
  const int32_t rc = ReadElementHeader(file, e.End(), segment.dataEnd, &next, true);
  return rc == VMF_OK || rc == VMF_SHORT_READ;  // a file cut off after the element
}

bool FindSegmentChild(MkvFileCache& file, const MkvSegment& segment, uint64_t from,
                      uint64_t limit, uint64_t* found) {
  const uint64_t stop = std::min(segment.dataEnd, from + 1 > UINT64_MAX - limit ? UINT64_MAX : from + 1 + limit);
  uint8_t chunk[4096 + 3];
  for (uint64_t base = from + 1; base + 4 <= stop; base += 4096) {
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, stop - base));
    if (file.ReadSome(base, chunk, want, &got) != VMF_OK || got < 4) return false;
    for (size_t i = 0; i + 4 <= got && i < 4096; ++i) {
      // Every segment-level ID is four bytes long and starts with 0x1X.
      if ((chunk[i] & 0xF0) != 0x10) continue;
      const uint32_t id = (uint32_t{chunk[i]} << 24) | (uint32_t{chunk[i + 1]} << 16) |
                          (uint32_t{chunk[i + 2]} << 8) | chunk[i + 3];
      if (!IsSegmentChild(id)) continue;
      ElementHeader e;
      if (ReadElementHeader(file, base + i, segment.dataEnd, &e, true) != VMF_OK) continue;
      *found = base + i;
      return true;
    }
  }
  return false;
}

MkvBlockCursor::MkvBlockCursor(MkvFileCache& file, const MkvSegment& segment, uint64_t trackNumber)
    : m_file(file), m_segment(segment), m_trackNumber(trackNumber) {
  m_pos = segment.firstCluster != 0 ? segment.firstCluster : segment.dataEnd;
}

void MkvBlockCursor::Reset(uint64_t pos, const ClusterState& cluster, int64_t minTime) {
  m_pos = pos;
  m_cluster = cluster;
  m_minTime = minTime;
  m_haveBlock = false;
  m_frameReady = false;
}

bool MkvBlockCursor::Resync(uint64_t from) {
  m_cluster.inside = false;
  uint64_t found = 0;
  if (!FindSegmentChild(m_file, m_segment, from, kCursorResyncLimit, &found)) {
    m_pos = m_segment.dataEnd;
    return false;
  }
  m_pos = found;
  return true;
}

int32_t MkvBlockCursor::NextBlock(BlockRef* out) {
  for (;;) {
    if (m_cluster.inside && m_pos >= m_cluster.end) m_cluster.inside = false;
    if (m_pos >= m_segment.dataEnd) return VMF_ERR_END_OF_STREAM;
    const uint64_t parentEnd = m_cluster.inside ? m_cluster.end : m_segment.dataEnd;
    ElementHeader e;
    const int32_t rc = ReadElementHeader(m_file, m_pos, parentEnd, &e, true);
    if (rc == VMF_SHORT_READ && m_cluster.inside) {
      m_cluster.inside = false;  // the cluster's stated size ends inside a header
      continue;
    }
    if (rc == VMF_SHORT_READ) return VMF_ERR_END_OF_STREAM;  // the file is cut off here
    if (rc != VMF_OK) {
      if (rc != VMF_ERR_FILE_CORRUPT) return rc;
      if (!Resync(m_pos)) return VMF_ERR_END_OF_STREAM;
      continue;
    }
    if (e.id == el::CLUSTER) {
      m_cluster = ClusterState{true, e.start, e.data, e.End(), 0};
      m_pos = e.data;
      continue;
    }
    if (IsSegmentChild(e.id)) {
      // Also how a cluster of unknown size ends.
      m_cluster.inside = false;
      if (e.unknownSize || e.clipped) {
        if (!Resync(m_pos)) return VMF_ERR_END_OF_STREAM;
      } else {
        m_pos = e.End();
      }
      continue;
    }
    if (!m_cluster.inside) {
      if (SkippableBySize(m_file, m_segment, e)) {
        m_pos = e.End();
      } else if (!Resync(m_pos)) {
        return VMF_ERR_END_OF_STREAM;
      }
      continue;
    }
    if (e.clipped || e.unknownSize) {
      if (!Resync(m_pos)) return VMF_ERR_END_OF_STREAM;
      continue;
    }
    // A child of a kind the reader does not know is passed over by its size only when an
    // element starts where it ends: junk that reads as an element header could otherwise claim
    // bytes far past itself, and in a cluster of unknown size hide whole clusters behind them.
    if (!IsKnownClusterChild(e.id) && !SkippableBySize(m_file, m_segment, e)) {
      if (!Resync(m_pos)) return VMF_ERR_END_OF_STREAM;
      continue;
    }
    bool found = false;
    const int32_t scan = ScanClusterChild(e, out, &found);
    if (scan != VMF_OK) return scan;
    m_pos = e.End();
    if (found) return VMF_OK;
  }
}

int32_t MkvBlockCursor::ScanClusterChild(const ElementHeader& e, BlockRef* out, bool* found) {
  switch (e.id) {
    case el::TIMECODE: {
      uint64_t tc = 0;
      if (ReadUnsigned(m_file, e, &tc) == VMF_OK) m_cluster.timecode = tc;
      return VMF_OK;
    }
    case el::SIMPLEBLOCK:
      return InspectBlock(e, out, found);
    case el::BLOCKGROUP:
      return InspectGroup(e, out, found);
    default:  // POSITION, PREVSIZE, CRC, VOID and whatever else a cluster holds
      return VMF_OK;
  }
}

int32_t MkvBlockCursor::InspectBlock(const ElementHeader& block, BlockRef* out, bool* found) {
  uint8_t head[12];
  size_t got = 0;
  const int32_t rc = m_file.ReadSome(block.data, head,
                                    static_cast<size_t>(std::min<uint64_t>(sizeof head, block.size)), &got);
  if (rc != VMF_OK) return rc;
  EbmlNumber track;
  // A track number that is no valid number makes the block unusable, not the cluster.
  if (ParseEbmlNumber(head, got, EbmlReading::kUnsigned, &track) != VMF_OK) return VMF_OK;
  if (got < track.length + 3) return VMF_OK;
  if (m_trackNumber != 0 && track.value != m_trackNumber) return VMF_OK;
  const MkvTrack* t = m_segment.TrackByNumber(track.value);
  if (!Delivered(t)) return VMF_OK;
  out->elementPos = block.id == el::SIMPLEBLOCK ? block.start : out->elementPos;
  out->payload = block.data;
  out->payloadSize = block.size;
  out->track = t;
  const uint16_t rel = static_cast<uint16_t>((head[track.length] << 8) | head[track.length + 1]);
  out->timeValid = BlockTime(m_segment, *t, m_cluster.timecode, static_cast<int16_t>(rel), &out->time);
  out->flags = head[track.length + 2];
  out->cluster = m_cluster;
  FinishBlockRef(out);
  *found = true;
  return VMF_OK;
}

int32_t MkvBlockCursor::InspectGroup(const ElementHeader& group, BlockRef* out, bool* found) {
  bool haveBlock = false, referenced = false, hasDuration = false;
  uint64_t duration = 0;
  ElementHeader block;
  for (uint64_t pos = group.data; pos < group.End();) {
    ElementHeader c;
    const int32_t rc = ReadElementHeader(m_file, pos, group.End(), &c);
    if (rc == VMF_ERR_DATA_NOT_READY) return rc;  // read again when the bytes are there
    if (rc != VMF_OK) return VMF_OK;              // a broken group is passed over
    if (c.id == el::BLOCK && !haveBlock) {
      block = c;
      haveBlock = true;
    } else if (c.id == el::REFERENCEBLOCK) {
      referenced = true;
    } else if (c.id == el::BLOCKDURATION) {
      hasDuration = ReadUnsigned(m_file, c, &duration) == VMF_OK;
    }
    pos = c.End();
  }
  if (!haveBlock) return VMF_OK;
  out->elementPos = group.start;
  const int32_t rc = InspectBlock(block, out, found);
  if (rc != VMF_OK || !*found) return rc;
  out->hasDuration = hasDuration;
  if (hasDuration && !TicksToTime(duration, 1.0, m_segment.info.timecodeScale, &out->duration))
    out->timeValid = false;
  out->key = out->track->blockType != kBlockVideo || !referenced;
  return VMF_OK;
}

void MkvBlockCursor::FinishBlockRef(BlockRef* out) const {
  // SimpleBlocks carry their key-frame flag; audio and subtitles are always sync points.
  out->key = out->track->blockType != kBlockVideo || (out->flags & 0x80) != 0;
  out->hasDuration = false;
  out->duration = 0;
}

int32_t MkvBlockCursor::LoadBlock(const BlockRef& ref) {
  if (ref.payloadSize > kMaxBlockSize) return VMF_ERR_FILE_CORRUPT;
  m_blockBytes.resize(static_cast<size_t>(ref.payloadSize));
  int32_t rc = m_file.Read(ref.payload, m_blockBytes.data(), m_blockBytes.size());
  if (rc != VMF_OK) return rc;
  EbmlNumber track;
  rc = ParseEbmlNumber(m_blockBytes.data(), m_blockBytes.size(), EbmlReading::kUnsigned, &track);
  if (rc != VMF_OK) return VMF_ERR_FILE_CORRUPT;
  const size_t header = track.length + 3;
  if (m_blockBytes.size() < header) return VMF_ERR_FILE_CORRUPT;
  const Lacing lacing = static_cast<Lacing>(ref.flags & 6);
  rc = ParseLacing(lacing, m_blockBytes.data() + header, m_blockBytes.size() - header, &m_lace);
  if (rc != VMF_OK) return rc;
  m_block = ref;
  m_frameOffset = header + m_lace.headerLength;
  m_frameIndex = 0;
  return VMF_OK;
}

int32_t MkvBlockCursor::DecodeCurrentFrame(MkvFrame* out) {
  const MkvTrack& t = *m_block.track;
  const uint32_t size = m_lace.sizes[m_frameIndex];
  const uint8_t* raw = m_blockBytes.data() + m_frameOffset;
  // An uncompressed frame is handed out from the block's own bytes: no copy.
  const bool stored = t.compression == Compression::kNone;
  if (!stored) {
    const int32_t rc = DecodeFrame(t, raw, size, &m_frameBytes);
    if (rc != VMF_OK) return rc;
  }
  int64_t defaultDuration = 0;
  if (t.hasDefaultDuration && !NanosToTime(t.defaultDuration, &defaultDuration)) return VMF_BAD_DATA;
  out->track = &t;
  out->key = m_block.key;
  out->laced = m_lace.count > 1;
  // Each frame of a laced block gets its own time where the default duration allows, else
  // an equal share of the block's duration.
  const int64_t step = m_lace.count == 1 || t.hasDefaultDuration
                           ? defaultDuration
                           : (m_block.hasDuration ? m_block.duration / m_lace.count : 0);
  if (!StepTime(m_block.time, m_frameIndex, m_lace.count == 1 ? 0 : step, &out->time)) return VMF_BAD_DATA;
  out->duration = m_lace.count == 1 && m_block.hasDuration ? m_block.duration : step;
  out->data = stored ? raw : m_frameBytes.data();
  out->size = stored ? size : m_frameBytes.size();
  return VMF_OK;
}

int32_t MkvBlockCursor::PeekFrame(MkvFrame* out) {
  for (;;) {
    if (m_frameReady) {
      *out = m_frame;
      return VMF_OK;
    }
    if (!m_haveBlock) {
      const uint64_t pos = m_pos;
      const ClusterState cluster = m_cluster;
      BlockRef ref;
      const int32_t rc = NextBlock(&ref);
      if (rc != VMF_OK) return rc;
      if (!ref.timeValid) return VMF_BAD_DATA;  // reported once, then passed over
      const int32_t load = LoadBlock(ref);
      if (load == VMF_ERR_DATA_NOT_READY) {
        // The block has not fully arrived: find it again on the next call.
        m_pos = pos;
        m_cluster = cluster;
        return load;
      }
      if (load == VMF_ERR_FILE_CORRUPT) continue;  // a damaged block is passed over
      if (load != VMF_OK) return load == VMF_SHORT_READ ? VMF_ERR_END_OF_STREAM : load;
      m_haveBlock = true;
    }
    if (m_frameIndex >= m_lace.count) {
      m_haveBlock = false;
      continue;
    }
    const int32_t rc = DecodeCurrentFrame(&m_frame);
    if (rc != VMF_OK) {
      Advance();
      return rc;
    }
    if (m_frame.time < m_minTime) {
      Advance();
      continue;
    }
    m_frameReady = true;
  }
}

void MkvBlockCursor::Advance() {
  m_frameReady = false;
  if (!m_haveBlock) return;
  m_frameOffset += m_lace.sizes[m_frameIndex];
  if (++m_frameIndex >= m_lace.count) m_haveBlock = false;
}

}  // namespace mkv
