// The answers of the module's GetInfo about streams, the file and its tags; the property
// records have their own file (MkvPropQueries).
#include "framework/matroska/MkvInfoQueries.h"

#include <algorithm>
#include <cstring>

#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvCodecs.h"
#include "framework/matroska/MkvFormat.h"
#include "platform/files/TextConvert.h"

namespace mkv {
namespace {


int32_t PutWide(VmfQueryValue* v, const std::u16string& text) {
  if (v->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
  const size_t bytes = (text.size() + 1) * sizeof(char16_t);
  if (v->size < bytes) {
    v->size = static_cast<uint32_t>(bytes);
    return VMF_ERR_BUFFER_TOO_SMALL;
  }
  std::memcpy(v->value.ptr, text.c_str(), bytes);
  return VMF_OK;
}

int32_t PutUtf8(VmfQueryValue* v, const std::string& text) {
  std::u16string wide;
  VexaFiles::Utf8ToUtf16String(text, wide);
  return PutWide(v, wide);
}

int32_t PutBytes(VmfQueryValue* v, const uint8_t* data, size_t n) {
  if (v->value.ptr == nullptr && n != 0) return VMF_MISSING_ARGUMENT;
  if (v->size < n) {
    v->size = static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX));
    return VMF_ERR_BUFFER_TOO_SMALL;
  }
  if (n != 0) std::memcpy(v->value.ptr, data, n);
  v->size = static_cast<uint32_t>(n);
  return VMF_OK;
}

int32_t PutU32(VmfQueryValue* v, uint64_t n) {
  v->value.u64 = 0;
  v->value.u32 = static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
  return VMF_OK;
}
int32_t PutU16(VmfQueryValue* v, uint64_t n) {
  v->value.u64 = 0;
  v->value.u16 = static_cast<uint16_t>(std::min<uint64_t>(n, 0xFFFF));
  return VMF_OK;
}
int32_t PutU64(VmfQueryValue* v, uint64_t n) {
  v->value.u64 = n;
  return VMF_OK;
}

int32_t PutFormat(VmfQueryValue* v, int32_t (*describe)(const MkvTrack&, uint8_t*), const MkvTrack* t) {
  if (t == nullptr) return VMF_ERR_INVALID_STREAM;
  if (v->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
  if (v->size < kFormatSize) return VMF_ERR_BUFFER_TOO_SMALL;
  uint8_t out[kFormatSize];
  const int32_t rc = describe(*t, out);
  if (rc == VMF_OK) std::memcpy(v->value.ptr, out, kFormatSize);
  return rc;
}

// Subtitle tracks have no format record of their own here: the codec type number in the
// first word, the rest zero.
int32_t DescribeSubtitle(const MkvTrack& t, uint8_t* out) {
  std::memset(out, 0, kFormatSize);
  std::memcpy(out, &t.codecType, sizeof t.codecType);
  return VMF_OK;
}

std::u16string MimeTypeOf(const MkvTrack& t) {
  struct Row { const char* prefix; const char16_t* mime; };
  static constexpr Row kRows[] = {
      {"V_MPEG4/ISO/AVC", u"video/h264"}, {"V_MPEG4/ISO", u"video/mp4v-es"}, {"V_MPEG2", u"video/mpeg2"},
      {"A_AAC", u"audio/aac"},           {"A_AC3", u"audio/ac3"},          {"A_MPEG/L3", u"audio/mpeg"},
      {"A_MPEG", u"audio/mpeg"},          {"A_DTS", u"audio/vnd.dts"},      {"A_VORBIS", u"audio/vorbis"},
      {"S_TEXT/UTF8", u"text/plain"},     {"S_TEXT/ASS", u"text/x-ssa"},     {"S_TEXT/SSA", u"text/x-ssa"},
  };
  for (const Row& r : kRows)
    if (t.codecId.rfind(r.prefix, 0) == 0) return r.mime;
  return u"application/octet-stream";
}

const MkvSimpleTag* CurrentSimpleTag(const MkvModuleHandle& h, int32_t index) {
  const auto tags = h.reader->Tags();
  if (h.currentTag >= tags.size()) return nullptr;
  const auto& simple = tags[h.currentTag].simpleTags;
  const size_t i = index >= 0 ? static_cast<size_t>(index) : h.currentSimpleTag;
  return i < simple.size() ? &simple[i] : nullptr;
}

uint64_t FirstOf(const std::vector<uint64_t>& list) { return list.empty() ? 0 : list.front(); }

// Questions about one stream: the block type whose stream the index names, and how the
// answer comes from that stream's track.
using StreamAnswer = int32_t (*)(VmfQueryValue*, const MkvTrack&);
struct StreamRow {
  uint32_t qid;
  int32_t blockType;
  StreamAnswer answer;
};

constexpr StreamAnswer kName = [](VmfQueryValue* v, const MkvTrack& t) { return PutUtf8(v, t.name); };
constexpr StreamAnswer kCodecId = [](VmfQueryValue* v, const MkvTrack& t) { return PutUtf8(v, t.codecId); };
constexpr StreamAnswer kCodecName = [](VmfQueryValue* v, const MkvTrack& t) { return PutUtf8(v, t.codecName); };
constexpr StreamAnswer kMime = [](VmfQueryValue* v, const MkvTrack& t) { return PutWide(v, MimeTypeOf(t)); };
constexpr StreamAnswer kPrivateSize = [](VmfQueryValue* v, const MkvTrack& t) { return PutU32(v, t.codecPrivate.size()); };
constexpr StreamAnswer kPrivate = [](VmfQueryValue* v, const MkvTrack& t) {
  return PutBytes(v, t.codecPrivate.data(), t.codecPrivate.size());
};
constexpr StreamAnswer kLinkCount = [](VmfQueryValue* v, const MkvTrack& t) { return PutU32(v, t.attachmentLinks.size()); };
constexpr StreamAnswer kLinks = [](VmfQueryValue* v, const MkvTrack& t) { return PutU64(v, FirstOf(t.attachmentLinks)); };

constexpr StreamRow kStreamRows[] = {
    {VMF_QID_VID_STREAM_FORMAT, kBlockVideo, [](VmfQueryValue* v, const MkvTrack& t) { return PutFormat(v, DescribeVideo, &t); }},
    {VMF_QID_AUD_STREAM_FORMAT, kBlockAudio, [](VmfQueryValue* v, const MkvTrack& t) { return PutFormat(v, DescribeAudio, &t); }},
    {VMF_QID_SUB_STREAM_FORMAT, kBlockSubtitle, [](VmfQueryValue* v, const MkvTrack& t) { return PutFormat(v, DescribeSubtitle, &t); }},
    {VMF_QID_VID_STREAM_NAME, kBlockVideo, kName},
    {VMF_QID_AUD_STREAM_NAME, kBlockAudio, kName},
    {VMF_QID_SUB_STREAM_NAME, kBlockSubtitle, kName},
    {VMF_QID_VID_CODEC_ID, kBlockVideo, kCodecId},
    {VMF_QID_AUD_CODEC_ID, kBlockAudio, kCodecId},
    {VMF_QID_SUB_CODEC_ID, kBlockSubtitle, kCodecId},
    {VMF_QID_VID_CODEC_NAME, kBlockVideo, kCodecName},
    {VMF_QID_AUD_CODEC_NAME, kBlockAudio, kCodecName},
    {VMF_QID_SUB_CODEC_NAME, kBlockSubtitle, kCodecName},
    {VMF_QID_VID_MIME_TYPE, kBlockVideo, kMime},
    {VMF_QID_AUD_MIME_TYPE, kBlockAudio, kMime},
    {VMF_QID_SUB_MIME_TYPE, kBlockSubtitle, kMime},
    {VMF_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, kBlockVideo, kPrivateSize},
    {VMF_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE, kBlockAudio, kPrivateSize},
    {VMF_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, kBlockSubtitle, kPrivateSize},
    {VMF_QID_VIDEO_CODEC_PRIVATE_DATA, kBlockVideo, kPrivate},
    {VMF_QID_AUDIO_CODEC_PRIVATE_DATA, kBlockAudio, kPrivate},
    {VMF_QID_SUBTITLE_CODEC_PRIVATE_DATA, kBlockSubtitle, kPrivate},
    {VMF_QID_GET_VID_ATTACHMENT_LINK_COUNT, kBlockVideo, kLinkCount},
    {VMF_QID_GET_AUD_ATTACHMENT_LINK_COUNT, kBlockAudio, kLinkCount},
    {VMF_QID_GET_SUB_ATTACHMENT_LINK_COUNT, kBlockSubtitle, kLinkCount},
    {VMF_QID_GET_VID_ATTACHMENT_LINKS, kBlockVideo, kLinks},
    {VMF_QID_GET_AUD_ATTACHMENT_LINKS, kBlockAudio, kLinks},
    {VMF_QID_GET_SUB_ATTACHMENT_LINKS, kBlockSubtitle, kLinks},
    {VMF_QID_AUDIO_CONTENT_COMPRESSION_ALGO, kBlockAudio,
     [](VmfQueryValue* v, const MkvTrack& t) { return PutU32(v, static_cast<uint32_t>(t.compression)); }},
    {VMF_QID_AUDIO_CONTENT_COMPRESSION_SETTING, kBlockAudio,
     [](VmfQueryValue* v, const MkvTrack& t) { return PutBytes(v, t.compressionSettings.data(), t.compressionSettings.size()); }},
    {VMF_QID_AUDIO_CONTENT_COMPRESSION_SETTING_SIZE, kBlockAudio,
     [](VmfQueryValue* v, const MkvTrack& t) { return PutU32(v, t.compressionSettings.size()); }},
    {VMF_QID_MKV_IS_INTERLACED, kBlockVideo, [](VmfQueryValue* v, const MkvTrack& t) { return PutU32(v, t.video.interlaced); }},
    {VMF_QID_MKV_COMBINE_FIELDS, kBlockVideo, [](VmfQueryValue* v, const MkvTrack& t) { return PutU32(v, t.video.combineFields); }},
};

int32_t StreamQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled) {
  for (const StreamRow& row : kStreamRows) {
    if (row.qid != qid) continue;
    *handled = true;
    const MkvTrack* t = index >= 0 ? h.reader->Stream(row.blockType, static_cast<uint32_t>(index)) : nullptr;
    return t != nullptr ? row.answer(v, *t) : VMF_ERR_INVALID_STREAM;
  }
  *handled = false;
  return VMF_ERR_UNSUPPORTED_QID;
}

int32_t TagQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled) {
  *handled = true;
  const auto tags = h.reader->Tags();
  switch (qid) {
    case VMF_QID_TAGS_GET_NUMTAGS: return PutU32(v, tags.size());
    case VMF_QID_TAGS_GET_INFO: return PutU32(v, tags.empty() ? 0 : 1);
    default: break;
  }
  const MkvTag* tag = h.currentTag < tags.size() ? &tags[h.currentTag] : nullptr;
  switch (qid) {
    case VMF_QID_TAGS_GET_TAG_TARGET_TRACK: return tag ? PutU32(v, FirstOf(tag->trackUids)) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_TAG_TARGET_EDITION: return tag ? PutU32(v, FirstOf(tag->editionUids)) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_TAG_TARGET_CHAPTER: return tag ? PutU32(v, FirstOf(tag->chapterUids)) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_TAG_TARGET_ATTACHMENT: return tag ? PutU32(v, FirstOf(tag->attachmentUids)) : VMF_ERR_VF3_PARSE_TAGS;
    default: break;
  }
  const MkvSimpleTag* st = CurrentSimpleTag(h, index);
  auto wideBytes = [](const std::string& s) {
    std::u16string w;
    VexaFiles::Utf8ToUtf16String(s, w);
    return (w.size() + 1) * sizeof(char16_t);
  };
  switch (qid) {
    case VMF_QID_TAGS_GET_SIMPLETAG_NAME_SIZE: return st ? PutU32(v, wideBytes(st->name)) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_NAME: return st ? PutUtf8(v, st->name) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_STRING_SIZE: return st ? PutU32(v, wideBytes(st->string)) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_STRING: return st ? PutUtf8(v, st->string) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE: return st ? PutU32(v, wideBytes(st->language)) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_LANGUAGE: return st ? PutUtf8(v, st->language) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_BINARY_SIZE: return st ? PutU32(v, st->binary.size()) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_BINARY: return st ? PutBytes(v, st->binary.data(), st->binary.size()) : VMF_ERR_VF3_PARSE_TAGS;
    case VMF_QID_TAGS_GET_SIMPLETAG_CHILDID: return st ? PutU64(v, st->children.size()) : VMF_ERR_VF3_PARSE_TAGS;
    default:
      *handled = false;
      return VMF_ERR_UNSUPPORTED_QID;
  }
}

int32_t FileQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled) {
  *handled = true;
  MkvReader& r = *h.reader;
  const MkvSegmentInfo& info = r.Segment().info;
  switch (qid) {
    case VMF_QID_NUM_CONTAINER_TITLE: return PutU16(v, 1);
    case VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA: return PutU16(v, r.StreamCount(kBlockVideo));
    case VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA: return PutU16(v, r.StreamCount(kBlockAudio));
    case VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA: return PutU16(v, r.StreamCount(kBlockSubtitle));
    case VMF_QID_TITLE_DURATION: return PutU64(v, static_cast<uint64_t>(h.title->Duration()));
    case VMF_QID_CONTAINER_TITLE_NAME: return PutUtf8(v, info.title);
    case VMF_QID_CONTAINER_FILE_NAME: return PutWide(v, h.fileName);
    case VMF_QID_CONTAINER_PREV_NAME: return PutUtf8(v, info.prevFileName);
    case VMF_QID_CONTAINER_NEXT_NAME: return PutUtf8(v, info.nextFileName);
    case VMF_QID_CONTAINER_MUX_APP: return PutUtf8(v, info.muxingApp);
    case VMF_QID_CONTAINER_WRITE_APP: return PutUtf8(v, info.writingApp);
    case VMF_QID_GET_CONTAINER_TYPE: return PutU32(v, VMF_MODULE_MATROSKA);
    case VMF_QID_GET_FILE_SIZE: case VMF_QID_GET_FILE_DOWNLOADED_SIZE: case VMF_QID_BYTES_AVAILABLE_AHEAD:
      return PutU64(v, r.FileSize());  // local files are whole
    case VMF_QID_FILE_POSITION: return PutU64(v, 0);
    case VMF_QID_GET_PROGRESS: return PutU32(v, 100);
    case VMF_QID_GET_CACHE_FILEPATH: return PutWide(v, h.fileName);
    case VMF_QID_GET_CACHE_FILEPATH_LENGTH: return PutU32(v, h.fileName.size());
    case VMF_QID_GET_BITRATE: {
      const int64_t d = r.Duration();
      return PutU32(v, d > 0 ? static_cast<uint64_t>(static_cast<long double>(r.FileSize()) * 8 * 10000000 / d) : 0);
    }
    case VMF_QID_USE_INDEX: return PutU32(v, r.Cues().empty() ? 0 : 1);
    case VMF_QID_GET_INDX_GAP: return PutU32(v, 0);
    case VMF_QID_EDITIONENTRY_GET_COUNT: case VMF_QID_PLAYLISTS_GET_COUNT: return PutU32(v, r.Editions().size());
    case VMF_QID_GET_ATTACHMENT_COUNT: return PutU32(v, r.Attachments().size());
    case VMF_QID_GET_ATTACHMENT_SIZE:
      if (index < 0 || static_cast<size_t>(index) >= r.Attachments().size()) return VMF_ERR_VF3_PARSE_ATTACHMENTS;
      return PutU32(v, r.Attachments()[index].dataSize);
    case VMF_QID_GET_ATTACHMENTINFO: {
      // The attachment's bytes.
      if (index < 0 || static_cast<size_t>(index) >= r.Attachments().size()) return VMF_ERR_VF3_PARSE_ATTACHMENTS;
      const uint64_t n = r.Attachments()[index].dataSize;
      if (v->value.ptr == nullptr) return VMF_MISSING_ARGUMENT;
      if (v->size < n) return VMF_ERR_BUFFER_TOO_SMALL;
      return r.ReadAttachment(static_cast<size_t>(index), static_cast<uint8_t*>(v->value.ptr), n);
    }
    case VMF_QID_GET_TITLE_MEDIA_PROP: {
      VmfTitleMediaProp prop{};
      prop.counts[0] = static_cast<uint16_t>(r.StreamCount(kBlockVideo));
      prop.counts[1] = static_cast<uint16_t>(r.StreamCount(kBlockAudio));
      prop.counts[2] = static_cast<uint16_t>(r.StreamCount(kBlockSubtitle));
      return PutBytes(v, reinterpret_cast<const uint8_t*>(&prop), sizeof prop);
    }
    case VMF_QID_TITLEMEDIA_PREV_SYNC_TIME: case VMF_QID_TITLEMEDIA_NEXT_SYNC_TIME: {
      // The time to search from comes in the value and the key frame's time goes back.
      int64_t found = 0;
      const int32_t rc = h.title->KeyFrameAround(v->value.i64, qid == VMF_QID_TITLEMEDIA_NEXT_SYNC_TIME, &found);
      if (rc == VMF_OK) v->value.i64 = found;
      return rc;
    }
    default:
      *handled = false;
      return VMF_ERR_UNSUPPORTED_QID;
  }
}

}  // namespace

int32_t InfoQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled) {
  int32_t rc = StreamQuery(h, qid, v, index, handled);
  if (!*handled) rc = FileQuery(h, qid, v, index, handled);
  if (!*handled) rc = TagQuery(h, qid, v, index, handled);
  return rc;
}

}  // namespace mkv
