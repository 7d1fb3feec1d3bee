// The property queries of the reader: fixed records (MkvPropRecords.h) filled from what the
// reader learnt from the file's header elements.
#include "framework/matroska/MkvPropQueries.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvCodecs.h"
#include "framework/matroska/MkvPropRecords.h"
#include "framework/VmfErrors.h"
#include "platform/files/TextConvert.h"

namespace mkv {
namespace {

// The record into the caller's buffer; a buffer too small learns the size it needs.
template <class Record>
int32_t PutRecord(VmfQueryValue* v, const Record& record) {
  if (v->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
  if (v->size < sizeof record) {
    v->size = sizeof record;
    return VMF_ERR_BUFFER_TOO_SMALL;
  }
  std::memcpy(v->value.ptr, &record, sizeof record);
  v->size = sizeof record;
  return VMF_OK;
}

std::u16string Wide(const std::string& utf8) {
  std::u16string w;
  VexaFiles::Utf8ToUtf16String(utf8, w);
  return w;
}

// Cut to N - 1 units, never between the two halves of a surrogate pair.
template <size_t N>
void CopyText(char16_t (&dst)[N], const std::u16string& text) {
  size_t n = std::min(text.size(), N - 1);
  if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::copy_n(text.data(), n, dst);
  dst[n] = 0;
}

template <size_t N>
void CopyAscii(char (&dst)[N], const std::string& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, dst);
  dst[n] = 0;
}

uint32_t Clamp32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)); }
uint16_t Clamp16(uint64_t v) { return static_cast<uint16_t>(std::min<uint64_t>(v, UINT16_MAX)); }
uint32_t Hz(double f) { return f > 0 && f < 4e9 ? static_cast<uint32_t>(std::lround(f)) : 0; }

uint32_t WideBytes(const std::string& utf8) { return Clamp32((Wide(utf8).size() + 1) * sizeof(char16_t)); }

bool IsPictureSubtitle(const MkvTrack& t) {
  for (const char* prefix : {"S_VOBSUB", "S_IMAGE/", "S_HDMV/", "S_DVBSUB"})
    if (t.codecId.rfind(prefix, 0) == 0) return true;
  return false;
}

int32_t ContainerProp(MkvModuleHandle& h, VmfQueryValue* v) {
  MkvReader& r = *h.reader;
  MkvContainerProp p{};
  p.titleCount = 1;
  p.trackCount = Clamp32(r.Segment().tracks.size());
  p.videoStreams = Clamp16(r.StreamCount(kBlockVideo));
  p.audioStreams = Clamp16(r.StreamCount(kBlockAudio));
  p.subtitleStreams = Clamp16(r.StreamCount(kBlockSubtitle));
  p.editionCount = Clamp16(r.Editions().size());
  p.tagCount = Clamp32(r.Tags().size());
  p.attachmentCount = Clamp32(r.Attachments().size());
  p.fileSize = r.FileSize();
  p.duration = h.title->Duration();
  p.segmentCount = Clamp32(h.title->PartCount());
  p.hasCues = r.Cues().empty() ? 0 : 1;
  return PutRecord(v, p);
}

int32_t TitleProp(MkvModuleHandle& h, VmfQueryValue* v, int32_t index) {
  if (index != 0) return VMF_ERR_INDEX_OUT_OF_RANGE;
  const MkvSegmentInfo& info = h.reader->Segment().info;
  MkvTitleProp p{};
  p.duration = h.title->Duration();
  p.timecodeScale = info.timecodeScale;
  p.segmentCount = Clamp32(h.title->PartCount());
  p.ordered = h.title->Ordered() ? 1 : 0;
  p.hasSegmentUid = info.segmentUid.size() == sizeof p.segmentUid ? 1 : 0;
  if (p.hasSegmentUid) std::memcpy(p.segmentUid, info.segmentUid.data(), sizeof p.segmentUid);
  CopyText(p.title, Wide(info.title));
  return PutRecord(v, p);
}

int32_t VideoMediaProp(const MkvTrack& t, VmfQueryValue* v) {
  MkvVideoMediaProp p{};
  p.trackUid = t.uid;
  p.trackNumber = Clamp32(t.number);
  p.codecType = t.codecType;
  p.pixelWidth = t.video.hasPixelWidth ? Clamp32(t.video.pixelWidth) : 0;
  p.pixelHeight = t.video.hasPixelHeight ? Clamp32(t.video.pixelHeight) : 0;
  p.displayWidth = t.video.hasDisplayWidth ? Clamp32(t.video.displayWidth) : 0;
  p.displayHeight = t.video.hasDisplayHeight ? Clamp32(t.video.displayHeight) : 0;
  p.defaultDuration = t.hasDefaultDuration ? t.defaultDuration : 0;
  p.interlaced = t.video.interlaced ? 1 : 0;
  p.combineFields = t.video.combineFields ? 1 : 0;
  p.compression = static_cast<uint32_t>(t.compression);
  return PutRecord(v, p);
}

int32_t AudioMediaProp(const MkvTrack& t, VmfQueryValue* v) {
  MkvAudioMediaProp p{};
  p.trackUid = t.uid;
  p.trackNumber = Clamp32(t.number);
  p.codecType = t.codecType;
  p.samplingFrequency = Hz(t.audio.samplingFrequency);
  p.outputSamplingFrequency = t.audio.hasOutputSamplingFrequency ? Hz(t.audio.outputSamplingFrequency) : 0;
  p.channels = Clamp32(t.audio.channels);
  p.bitDepth = t.audio.hasBitDepth ? Clamp32(t.audio.bitDepth) : 0;
  p.waveFormatTag = CodecOfType(t.codecType).waveTag;
  p.compression = static_cast<uint32_t>(t.compression);
  p.defaultDuration = t.hasDefaultDuration ? t.defaultDuration : 0;
  return PutRecord(v, p);
}

int32_t SubtitleMediaProp(const MkvTrack& t, VmfQueryValue* v, bool pictureOnly) {
  const bool picture = IsPictureSubtitle(t);
  if (pictureOnly && !picture) return VMF_ERR_CODEC_UNSUPPORTED;
  MkvSubtitleMediaProp p{};
  p.trackUid = t.uid;
  p.trackNumber = Clamp32(t.number);
  p.codecType = t.codecType;
  p.compression = static_cast<uint32_t>(t.compression);
  p.codecPrivateSize = Clamp32(t.codecPrivate.size());
  p.picture = picture ? 1 : 0;
  CopyAscii(p.language, t.language);
  return PutRecord(v, p);
}

int32_t StreamNameProp(const MkvTrack& t, VmfQueryValue* v) {
  MkvStreamNameProp p{};
  p.trackNumber = Clamp32(t.number);
  const std::u16string name = Wide(t.name);
  p.nameChars = Clamp32(name.size());
  CopyAscii(p.language, t.language);
  CopyText(p.name, name);
  return PutRecord(v, p);
}

const MkvTrack* TrackAt(const MkvReader& r, int32_t index) {
  const auto& tracks = r.Segment().tracks;
  return index >= 0 && static_cast<size_t>(index) < tracks.size() ? &tracks[index] : nullptr;
}

int32_t TrackProp(const MkvTrack& t, VmfQueryValue* v) {
  MkvTrackProp p{};
  p.uid = t.uid;
  p.number = Clamp32(t.number);
  p.trackType = Clamp32(t.type);
  p.blockType = t.blockType;
  p.streamIndex = t.streamIndex;
  p.codecType = t.codecType;
  p.compression = static_cast<uint32_t>(t.compression);
  p.defaultDuration = t.hasDefaultDuration ? t.defaultDuration : 0;
  p.timecodeScale = t.timecodeScale;
  CopyAscii(p.codecId, t.codecId);
  CopyAscii(p.language, t.language);
  return PutRecord(v, p);
}

int32_t TrackLinkProp(const MkvTrack& t, const TrackReference& ref, VmfQueryValue* v) {
  MkvTrackLinkProp p{};
  p.uid = ref.uid;
  p.segmentUid = ref.segmentUid;
  p.trackNumber = Clamp32(t.number);
  p.present = ref.uid != 0 || !ref.fileName.empty() ? 1 : 0;
  CopyText(p.fileName, Wide(ref.fileName));
  return PutRecord(v, p);
}

int32_t PlaylistProp(MkvModuleHandle& h, VmfQueryValue* v, int32_t index) {
  const auto editions = h.reader->Editions();
  if (index < 0 || static_cast<size_t>(index) >= editions.size()) return VMF_ERR_INDEX_OUT_OF_RANGE;
  const MkvEdition& e = editions[index];
  MkvPlaylistProp p{};
  p.editionUid = e.uid;
  p.chapterCount = Clamp32(e.chapters.size());
  p.ordered = e.ordered ? 1 : 0;
  p.hidden = e.hidden ? 1 : 0;
  p.isDefault = e.isDefault ? 1 : 0;
  const MkvTitlePlan plan = h.title->PlanFor(&e);
  p.segmentCount = Clamp32(plan.parts.size());
  p.duration = plan.duration;
  return PutRecord(v, p);
}

// Depth-first walk of a tag's simple tags, numbering them from 0.
struct SimpleTagHit {
  const MkvSimpleTag* tag = nullptr;
  uint64_t id = 0, parentId = UINT64_MAX;
  uint32_t depth = 0;
};

bool FindSimpleTagById(const std::vector<MkvSimpleTag>& list, uint64_t want, uint64_t parent, uint32_t depth,
                       uint64_t* next, SimpleTagHit* hit) {
  for (const MkvSimpleTag& st : list) {
    const uint64_t id = (*next)++;
    if (id == want) {
      *hit = {&st, id, parent, depth};
      return true;
    }
    // Nesting is bounded when the tags are read, so the recursion is too.
    if (FindSimpleTagById(st.children, want, id, depth + 1, next, hit)) return true;
  }
  return false;
}

uint64_t CountSimpleTags(const std::vector<MkvSimpleTag>& list) {
  uint64_t n = 0;
  for (const MkvSimpleTag& st : list) n += 1 + CountSimpleTags(st.children);
  return n;
}

int32_t SimpleTagInfo(MkvModuleHandle& h, VmfQueryValue* v, int32_t index, bool byId) {
  const auto tags = h.reader->Tags();
  if (h.currentTag >= tags.size() || index < 0) return VMF_ERR_VF3_PARSE_TAGS;
  const std::vector<MkvSimpleTag>& top = tags[h.currentTag].simpleTags;
  SimpleTagHit hit;
  if (byId) {
    uint64_t next = 0;
    if (!FindSimpleTagById(top, static_cast<uint64_t>(index), UINT64_MAX, 0, &next, &hit)) return VMF_ERR_VF3_PARSE_TAGS;
  } else {
    if (static_cast<size_t>(index) >= top.size()) return VMF_ERR_VF3_PARSE_TAGS;
    // The id of the index-th top-level tag: every tag before it and their descendants.
    uint64_t id = 0;
    for (int32_t i = 0; i < index; ++i) id += 1 + CountSimpleTags(top[i].children);
    hit = {&top[index], id, UINT64_MAX, 0};
  }
  const MkvSimpleTag& st = *hit.tag;
  MkvSimpleTagInfo p{};
  p.id = hit.id;
  p.parentId = hit.parentId;
  p.childCount = Clamp32(st.children.size());
  p.depth = hit.depth;
  p.nameSize = WideBytes(st.name);
  p.stringSize = WideBytes(st.string);
  p.binarySize = Clamp32(st.binary.size());
  p.isDefault = st.original ? 1 : 0;
  CopyAscii(p.language, st.language);
  CopyText(p.name, Wide(st.name));
  CopyText(p.string, Wide(st.string));
  return PutRecord(v, p);
}

int32_t AttachmentProp(MkvModuleHandle& h, VmfQueryValue* v, int32_t index) {
  const auto attachments = h.reader->Attachments();
  if (index < 0 || static_cast<size_t>(index) >= attachments.size()) return VMF_ERR_VF3_PARSE_ATTACHMENTS;
  const MkvAttachment& a = attachments[index];
  MkvAttachmentProp p{};
  p.uid = a.uid;
  p.dataSize = a.dataSize;
  p.startTime = a.startTime;
  p.endTime = a.endTime;
  CopyText(p.name, Wide(a.name));
  CopyText(p.mimeType, Wide(a.mimeType));
  CopyText(p.description, Wide(a.description));
  return PutRecord(v, p);
}

const MkvTrack* StreamOrNull(MkvReader& r, int32_t blockType, int32_t index) {
  return index >= 0 ? r.Stream(blockType, static_cast<uint32_t>(index)) : nullptr;
}

}  // namespace

int32_t PropQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled) {
  *handled = true;
  MkvReader& r = *h.reader;
  const MkvTrack* t = nullptr;
  switch (qid) {
    case VMF_QID_GET_CONTAINER_PROP: return ContainerProp(h, v);
    case VMF_QID_GET_TITLE_PROP: return TitleProp(h, v, index);
    case VMF_QID_PLAYLISTS_GET_PROP: return PlaylistProp(h, v, index);
    case VMF_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX: return SimpleTagInfo(h, v, index, false);
    case VMF_QID_TAGS_GET_SIMPLETAGINFO_BYID: return SimpleTagInfo(h, v, index, true);
    case VMF_QID_SET_ATTACHMENT: return AttachmentProp(h, v, index);
    case VMF_QID_GET_VIDEO_MEDIA_PROP: case VMF_QID_GET_VID_STREAMNAME_PROP:
      t = StreamOrNull(r, kBlockVideo, index);
      break;
    case VMF_QID_GET_AUDIO_MEDIA_PROP: case VMF_QID_GET_AUD_STREAMNAME_PROP:
      t = StreamOrNull(r, kBlockAudio, index);
      break;
    case VMF_QID_GET_SUBTITLE_MEDIA_PROP: case VMF_QID_GET_HDSUBTITLE_MEDIA_PROP:
    case VMF_QID_GET_SUB_STREAMNAME_PROP:
      t = StreamOrNull(r, kBlockSubtitle, index);
      break;
    case VMF_QID_GET_TRACK_PROP: case VMF_QID_GET_TRICK_TRACK_PROP: case VMF_QID_GET_MASTER_TRACK_PROP:
      t = TrackAt(r, index);
      if (t == nullptr) return VMF_ERR_INDEX_OUT_OF_RANGE;
      break;
    default:
      *handled = false;
      return VMF_ERR_UNSUPPORTED_QID;
  }
  if (t == nullptr) return VMF_ERR_INVALID_STREAM;
  switch (qid) {
    case VMF_QID_GET_VIDEO_MEDIA_PROP: return VideoMediaProp(*t, v);
    case VMF_QID_GET_AUDIO_MEDIA_PROP: return AudioMediaProp(*t, v);
    case VMF_QID_GET_SUBTITLE_MEDIA_PROP: return SubtitleMediaProp(*t, v, false);
    case VMF_QID_GET_HDSUBTITLE_MEDIA_PROP: return SubtitleMediaProp(*t, v, true);
    case VMF_QID_GET_TRACK_PROP: return TrackProp(*t, v);
    case VMF_QID_GET_TRICK_TRACK_PROP: return TrackLinkProp(*t, t->enhancedTrack, v);
    case VMF_QID_GET_MASTER_TRACK_PROP: return TrackLinkProp(*t, t->masterTrack, v);
    default: return StreamNameProp(*t, v);
  }
}

}  // namespace mkv
