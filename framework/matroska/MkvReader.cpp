#include "framework/matroska/MkvReader.h"

#include <algorithm>
#include <cstring>

#include "framework/matroska/MkvElements.h"
#include "framework/VmfErrors.h"

namespace mkv {
namespace {

// A failure inside an element's reader becomes that element's parse error; a kill
// request passes through.
int32_t AsParseError(int32_t rc, int32_t parseError) {
  if (rc == VMF_OK || rc == VMF_ERR_KILL || rc == VMF_ERR_DATA_NOT_READY) return rc;
  return parseError;
}

int32_t BlockTypeOf(uint64_t trackType) {
  switch (trackType) {
    case kTrackTypeVideo: return kBlockVideo;
    case kTrackTypeAudio: return kBlockAudio;
    case kTrackTypeSubtitle: return kBlockSubtitle;
    default: return 0;
  }
}

}  // namespace

MkvReader::MkvReader(std::unique_ptr<MkvByteSource> source)
    : m_source(std::move(source)), m_file(m_source.get()) {}

// ---- Opening --------------------------------------------------------------------------

int32_t MkvReader::Open() {
  uint64_t next = 0;
  int32_t rc = ReadEbmlHeader(&next);
  if (rc != VMF_OK) return rc;
  rc = FindSegment(next);
  if (rc != VMF_OK) return rc;
  return ReadSegmentHeaders();
}

int32_t MkvReader::OpenFrom(uint64_t from) {
  const int32_t rc = FindSegment(from);
  if (rc != VMF_OK) return rc;
  return ReadSegmentHeaders();
}

int32_t MkvReader::ReadSegmentHeaders() {
  int32_t rc = ScanHeaderElements();
  if (rc != VMF_OK) return rc;
  rc = FollowSeekHead();
  if (rc != VMF_OK) return rc;
  // Without a track list no block can be placed: a file cut off before it is unusable.
  if (!m_haveTracks) return VMF_ERR_INVALID_FILE;
  NumberStreams();
  return VMF_OK;
}

int32_t MkvReader::ReadEbmlHeader(uint64_t* next) {
  ElementHeader e;
  if (ReadElementHeader(m_file, 0, m_file.Size(), &e) != VMF_OK || e.id != el::EBML)
    return VMF_ERR_INVALID_FILE;
  std::string docType = "matroska";
  const int32_t rc = ForEachChild(e, [&](const ElementHeader& c) {
    return c.id == el::DOCTYPE ? ReadString(m_file, c, &docType) : VMF_OK;
  });
  if (rc != VMF_OK || docType.empty()) return VMF_ERR_INVALID_FILE;
  *next = e.End();
  return VMF_OK;
}

int32_t MkvReader::FindSegment(uint64_t from) {
  // Void elements may stand between the EBML header and the segment.
  for (uint64_t pos = from; pos < m_file.Size();) {
    ElementHeader e;
    if (ReadElementHeader(m_file, pos, m_file.Size(), &e, true) != VMF_OK) return VMF_ERR_INVALID_FILE;
    if (e.id == el::SEGMENT) {
      m_segment.dataStart = e.data;
      m_segment.dataEnd = e.End();
      m_segmentUnsized = e.unknownSize || e.clipped;
      return VMF_OK;
    }
    if (e.clipped || e.unknownSize) break;
    pos = e.End();
  }
  return VMF_ERR_INVALID_FILE;
}

int32_t MkvReader::ScanHeaderElements() {
  uint64_t pos = m_segment.dataStart;
  while (pos < m_segment.dataEnd) {
    ElementHeader e;
    const int32_t rc = ReadElementHeader(m_file, pos, m_segment.dataEnd, &e, true);
    if (rc == VMF_SHORT_READ) break;
    if (rc == VMF_ERR_DATA_NOT_READY) {
      // A download that has the tracks but not what follows: blocks begin here at the
      // earliest, and the block cursors wait for them.
      if (!m_haveTracks) return rc;
      m_segment.firstCluster = pos;
      break;
    }
    const bool known = rc == VMF_OK && (IsSegmentChild(e.id) || e.id == el::VOID || e.id == el::CRC);
    if (!known && rc == VMF_OK && SkippableBySize(m_file, m_segment, e)) {
      pos = e.End();  // an element of a kind the reader does not know, whatever its size
      continue;
    }
    if (!known) {
      // Damage stands here: step forward byte by byte to the next element that belongs
      // in a segment.
      uint64_t found = 0;
      if (!FindSegmentChild(m_file, m_segment, pos, kHeaderResyncSteps, &found)) break;
      pos = found;
      continue;
    }
    if (e.id == el::CLUSTER) {
      m_segment.firstCluster = pos;
      break;
    }
    if (e.id != el::VOID && e.id != el::CRC) {
      const int32_t read = ReadTopLevel(e);
      if (read != VMF_OK) return read;
    }
    if (e.unknownSize) break;
    pos = e.End();
  }
  return VMF_OK;
}

int32_t MkvReader::ReadTopLevel(const ElementHeader& e) {
  // Each element once, whether met in the scan or through a seek head; a file made of
  // endless top-level elements stops being read at the limit.
  if (m_parsed.size() >= kMaxEntries || !m_parsed.insert(e.start).second) return VMF_OK;
  switch (e.id) {
    case el::SEEKHEAD: return AsParseError(ReadSeekHead(e), VMF_ERR_VF3_PARSE_SEEKHEAD);
    case el::SEGMENTINFO: return AsParseError(ReadSegmentInfo(e), VMF_ERR_VF3_PARSE_SEGMENTINFO);
    case el::TRACKS:
      m_haveTracks = true;
      return AsParseError(ReadTracks(e), VMF_ERR_VF3_PARSE_TRACKS);
    case el::CUES: return AsParseError(ReadCues(e), VMF_ERR_VF3_PARSE_CUES);
    case el::CHAPTERS: return AsParseError(ReadChapters(e), VMF_ERR_VF3_PARSE_CHAPTERS);
    case el::ATTACHMENTS: return AsParseError(ReadAttachments(e), VMF_ERR_VF3_PARSE_ATTACHMENTS);
    case tag::TAGS: return AsParseError(ReadTags(e), VMF_ERR_VF3_PARSE_TAGS);
    case el::HIERARCHICAL_INDEX:
      // The index of the framework's own profile; the cues serve the same purpose, so
      // only its structure is checked.
      return AsParseError(ForEachChild(e, [](const ElementHeader&) { return VMF_OK; }),
                          VMF_ERR_VF3_PARSE_HIERARCHICAL);
    default: return VMF_OK;
  }
}

int32_t MkvReader::FollowSeekHead() {
  // Elements written after the clusters (cues, tags) are found through the seek head;
  // entries may lead to a further seek head, so the list grows while it is walked.
  for (size_t i = 0; i < m_seekEntries.size(); ++i) {
    const auto [id, position] = m_seekEntries[i];
    if (!IsSegmentChild(id) || id == el::CLUSTER) continue;
    if (position >= m_segment.dataEnd - m_segment.dataStart) continue;
    const uint64_t at = m_segment.dataStart + position;
    ElementHeader e;
    // A cut-off file may not reach the element; that is no error.
    if (ReadElementHeader(m_file, at, m_segment.dataEnd, &e) != VMF_OK || e.id != id) continue;
    const int32_t rc = ReadTopLevel(e);
    if (rc != VMF_OK) return rc;
  }
  return VMF_OK;
}

void MkvReader::NumberStreams() {
  uint32_t counts[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < m_segment.tracks.size(); ++i) {
    MkvTrack& t = m_segment.tracks[i];
    t.blockType = BlockTypeOf(t.type);
    // Track number 0 is invalid, and a repeated number would make blocks ambiguous.
    if (t.number == 0 || m_segment.TrackByNumber(t.number) != &t) t.blockType = 0;
    if (t.blockType != 0) t.streamIndex = counts[t.blockType]++;
  }
  m_cursors.clear();
  m_cursors.resize(m_segment.tracks.size());
}

// ---- Streams and blocks ---------------------------------------------------------------

uint32_t MkvReader::StreamCount(int32_t blockType) const {
  uint32_t n = 0;
  for (const MkvTrack& t : m_segment.tracks)
    if (t.blockType != 0 && t.blockType == blockType) ++n;
  return n;
}

const MkvTrack* MkvReader::Stream(int32_t blockType, uint32_t stream) const {
  for (const MkvTrack& t : m_segment.tracks)
    if (t.blockType != 0 && t.blockType == blockType && t.streamIndex == stream) return &t;
  return nullptr;
}

MkvTrack* MkvReader::Stream(int32_t blockType, uint32_t stream) {
  return const_cast<MkvTrack*>(static_cast<const MkvReader*>(this)->Stream(blockType, stream));
}

MkvBlockCursor& MkvReader::CursorFor(const MkvTrack& t) {
  const size_t index = static_cast<size_t>(&t - m_segment.tracks.data());
  if (!m_cursors[index]) m_cursors[index] = std::make_unique<MkvBlockCursor>(m_file, m_segment, t.number);
  return *m_cursors[index];
}

int32_t MkvReader::Deliver(MkvBlockCursor& cursor, uint8_t* dst, uint32_t capacity, FrameInfo* info) {
  MkvFrame frame;
  const int32_t rc = cursor.PeekFrame(&frame);
  if (rc != VMF_OK) return rc;
  info->blockType = frame.track->blockType;
  info->stream = frame.track->streamIndex;
  info->size = static_cast<uint32_t>(frame.size);
  info->key = frame.key;
  info->laced = frame.laced;
  info->time = frame.time;
  info->duration = frame.duration;
  if (frame.size > capacity || (dst == nullptr && frame.size != 0)) return VMF_OUT_OF_MEMORY;
  if (frame.size != 0) std::memcpy(dst, frame.data, frame.size);
  cursor.Advance();
  return VMF_OK;
}

int32_t MkvReader::ReadFrame(int32_t blockType, uint32_t stream, uint8_t* dst, uint32_t capacity,
                             FrameInfo* info) {
  const MkvTrack* t = Stream(blockType, stream);
  if (t == nullptr) return VMF_ERR_INVALID_STREAM;
  return Deliver(CursorFor(*t), dst, capacity, info);
}

MkvBlockCursor& MkvReader::AnyCursor() {
  if (!m_anyCursor) m_anyCursor = std::make_unique<MkvBlockCursor>(m_file, m_segment, 0);
  return *m_anyCursor;
}

int32_t MkvReader::ReadAnyFrame(uint8_t* dst, uint32_t capacity, FrameInfo* info, int64_t end) {
  MkvFrame frame;
  const int32_t rc = AnyCursor().PeekFrame(&frame);
  if (rc != VMF_OK) return rc;
  if (frame.time >= end) return VMF_ERR_END_OF_STREAM;  // left for whoever reads on from `end`
  return Deliver(AnyCursor(), dst, capacity, info);
}

int32_t MkvReader::ReadAttachment(size_t index, uint8_t* dst, uint64_t count) {
  if (index >= m_attachments.size()) return VMF_ERR_VF3_PARSE_ATTACHMENTS;
  const MkvAttachment& a = m_attachments[index];
  if (count > a.dataSize) return VMF_ERR_VF3_PARSE_ATTACHMENTS;
  return m_file.Read(a.dataOffset, dst, static_cast<size_t>(count)) == VMF_OK ? VMF_OK : VMF_ERR_VF3_PARSE_ATTACHMENTS;
}

}  // namespace mkv
