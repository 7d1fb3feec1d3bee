#pragma once
// The fixed records the Matroska reader answers to the property queries (buffer queries of
// data type 0xB). Each is a plain record with natural alignment; the caller's buffer must
// hold sizeof(record) bytes, else the query answers VMF_ERR_BUFFER_TOO_SMALL and puts the
// size needed into the value's size. Unused bytes are zero.
//
// Text fields are NUL-terminated and cut to fit: names and titles as UTF-16 (char16_t),
// codec IDs and ISO 639-2 languages as ASCII (char). Times are 100-ns units unless a field
// says nanoseconds; "index" below is the query's index argument.
//
//   VMF_QID_GET_CONTAINER_PROP        MkvContainerProp     index ignored
//   VMF_QID_GET_TITLE_PROP            MkvTitleProp         index = title (0 only)
//   VMF_QID_GET_VIDEO_MEDIA_PROP      MkvVideoMediaProp    index = video stream
//   VMF_QID_GET_AUDIO_MEDIA_PROP      MkvAudioMediaProp    index = audio stream
//   VMF_QID_GET_SUBTITLE_MEDIA_PROP   MkvSubtitleMediaProp index = subtitle stream
//   VMF_QID_GET_HDSUBTITLE_MEDIA_PROP MkvSubtitleMediaProp index = subtitle stream; picture
//                                     subtitles only (text ones: VMF_ERR_CODEC_UNSUPPORTED)
//   VMF_QID_GET_VID/AUD/SUB_STREAMNAME_PROP  MkvStreamNameProp  index = stream of that kind
//   VMF_QID_GET_TRACK_PROP            MkvTrackProp         index = position in the track list
//   VMF_QID_GET_TRICK_TRACK_PROP      MkvTrackLinkProp     index = position in the track list;
//                                     the track's enhanced (trick-play) track reference
//   VMF_QID_GET_MASTER_TRACK_PROP     MkvTrackLinkProp     same, the master track reference
//   VMF_QID_PLAYLISTS_GET_PROP        MkvPlaylistProp      index = edition
//   VMF_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX  MkvSimpleTagInfo  index = top-level simple tag of
//                                     the current tag (VMF_QID_TAGS_SET_CURRENTTAGIDX)
//   VMF_QID_TAGS_GET_SIMPLETAGINFO_BYID     MkvSimpleTagInfo  index = simple-tag id: the
//                                     depth-first position among all simple tags of the
//                                     current tag, nested ones included, from 0
//   VMF_QID_SET_ATTACHMENT            MkvAttachmentProp    index = attachment; the record a
//                                     writer would pass, read back from the file
// A stream, track, edition, tag or attachment index out of range answers
// VMF_ERR_INVALID_STREAM (streams), VMF_ERR_INDEX_OUT_OF_RANGE (tracks, editions, titles),
// the tags parse error (tags) or the attachments parse error (attachments), as the other
// queries of the reader do.
#include <cstddef>
#include <cstdint>

namespace mkv {

constexpr size_t kPropTextChars = 128;
constexpr size_t kPropLanguageChars = 8;

struct MkvContainerProp {
  uint32_t titleCount;
  uint32_t trackCount;  // every track entry, delivered or not
  uint16_t videoStreams, audioStreams, subtitleStreams, editionCount;
  uint32_t tagCount;
  uint32_t attachmentCount;
  uint64_t fileSize;
  int64_t duration;       // the title's
  uint32_t segmentCount;  // segments that make the title
  uint8_t hasCues;
  uint8_t reserved[3];
};
static_assert(sizeof(MkvContainerProp) == 48);
static_assert(offsetof(MkvContainerProp, videoStreams) == 8);
static_assert(offsetof(MkvContainerProp, editionCount) == 14);
static_assert(offsetof(MkvContainerProp, tagCount) == 16);
static_assert(offsetof(MkvContainerProp, fileSize) == 24);
static_assert(offsetof(MkvContainerProp, duration) == 32);
static_assert(offsetof(MkvContainerProp, segmentCount) == 40);
static_assert(offsetof(MkvContainerProp, hasCues) == 44);

struct MkvTitleProp {
  int64_t duration;
  uint64_t timecodeScale;  // nanoseconds per tick of the first segment
  uint32_t segmentCount;
  uint8_t ordered;  // the title follows an ordered edition
  uint8_t hasSegmentUid;
  uint8_t segmentUid[16];
  uint16_t reserved;
  char16_t title[kPropTextChars];
};
static_assert(sizeof(MkvTitleProp) == 296);
static_assert(offsetof(MkvTitleProp, timecodeScale) == 8);
static_assert(offsetof(MkvTitleProp, segmentCount) == 16);
static_assert(offsetof(MkvTitleProp, ordered) == 20);
static_assert(offsetof(MkvTitleProp, segmentUid) == 22);
static_assert(offsetof(MkvTitleProp, title) == 40);

struct MkvVideoMediaProp {
  uint64_t trackUid;
  uint32_t trackNumber;
  uint32_t codecType;
  uint32_t pixelWidth, pixelHeight, displayWidth, displayHeight;  // 0 when absent
  uint64_t defaultDuration;                                       // nanoseconds, 0 when absent
  uint8_t interlaced, combineFields;
  uint16_t reserved;
  uint32_t compression;  // the Matroska algorithm plus 1, 0 none
};
static_assert(sizeof(MkvVideoMediaProp) == 48);
static_assert(offsetof(MkvVideoMediaProp, trackNumber) == 8);
static_assert(offsetof(MkvVideoMediaProp, pixelWidth) == 16);
static_assert(offsetof(MkvVideoMediaProp, displayHeight) == 28);
static_assert(offsetof(MkvVideoMediaProp, defaultDuration) == 32);
static_assert(offsetof(MkvVideoMediaProp, interlaced) == 40);
static_assert(offsetof(MkvVideoMediaProp, compression) == 44);

struct MkvAudioMediaProp {
  uint64_t trackUid;
  uint32_t trackNumber;
  uint32_t codecType;
  uint32_t samplingFrequency;        // Hz, rounded; 8000 when absent
  uint32_t outputSamplingFrequency;  // Hz, rounded; 0 when absent
  uint32_t channels;
  uint32_t bitDepth;  // 0 when absent
  int32_t waveFormatTag;  // -1 when the codec has none
  uint32_t compression;
  uint64_t defaultDuration;  // nanoseconds
};
static_assert(sizeof(MkvAudioMediaProp) == 48);
static_assert(offsetof(MkvAudioMediaProp, samplingFrequency) == 16);
static_assert(offsetof(MkvAudioMediaProp, channels) == 24);
static_assert(offsetof(MkvAudioMediaProp, waveFormatTag) == 32);
static_assert(offsetof(MkvAudioMediaProp, defaultDuration) == 40);

struct MkvSubtitleMediaProp {
  uint64_t trackUid;
  uint32_t trackNumber;
  uint32_t codecType;
  uint32_t compression;
  uint32_t codecPrivateSize;
  uint8_t picture;  // picture subtitles (S_VOBSUB, S_IMAGE/..., S_HDMV/...)
  uint8_t reserved[3];
  char language[kPropLanguageChars];
  uint32_t reserved2;
};
static_assert(sizeof(MkvSubtitleMediaProp) == 40);
static_assert(offsetof(MkvSubtitleMediaProp, compression) == 16);
static_assert(offsetof(MkvSubtitleMediaProp, picture) == 24);
static_assert(offsetof(MkvSubtitleMediaProp, language) == 28);

struct MkvStreamNameProp {
  uint32_t trackNumber;
  uint32_t nameChars;  // UTF-16 units of the whole name, before any cut
  char language[kPropLanguageChars];
  char16_t name[kPropTextChars];
};
static_assert(sizeof(MkvStreamNameProp) == 272);
static_assert(offsetof(MkvStreamNameProp, language) == 8);
static_assert(offsetof(MkvStreamNameProp, name) == 16);

struct MkvTrackProp {
  uint64_t uid;
  uint32_t number;
  uint32_t trackType;  // as Matroska numbers it: 1 video, 2 audio, 0x11 subtitle, ...
  int32_t blockType;   // 0 for tracks the reader does not deliver
  uint32_t streamIndex;
  uint32_t codecType;
  uint32_t compression;
  uint64_t defaultDuration;  // nanoseconds
  double timecodeScale;
  char codecId[32];
  char language[kPropLanguageChars];
};
static_assert(sizeof(MkvTrackProp) == 88);
static_assert(offsetof(MkvTrackProp, blockType) == 16);
static_assert(offsetof(MkvTrackProp, defaultDuration) == 32);
static_assert(offsetof(MkvTrackProp, timecodeScale) == 40);
static_assert(offsetof(MkvTrackProp, codecId) == 48);
static_assert(offsetof(MkvTrackProp, language) == 80);

struct MkvTrackLinkProp {
  uint64_t uid;         // the referenced track's UID, 0 when the track names none
  uint64_t segmentUid;  // the segment that holds it, 0 for this one
  uint32_t trackNumber;  // of the track asked about
  uint8_t present;
  uint8_t reserved[3];
  char16_t fileName[kPropTextChars];
};
static_assert(sizeof(MkvTrackLinkProp) == 280);
static_assert(offsetof(MkvTrackLinkProp, trackNumber) == 16);
static_assert(offsetof(MkvTrackLinkProp, present) == 20);
static_assert(offsetof(MkvTrackLinkProp, fileName) == 24);

struct MkvPlaylistProp {
  uint64_t editionUid;
  int64_t duration;       // what playing the edition lasts
  uint32_t chapterCount;  // top-level chapters
  uint32_t segmentCount;  // parts played: chapters of an ordered edition, else segments
  uint8_t ordered, hidden, isDefault, reserved;
  uint32_t reserved2;
};
static_assert(sizeof(MkvPlaylistProp) == 32);
static_assert(offsetof(MkvPlaylistProp, duration) == 8);
static_assert(offsetof(MkvPlaylistProp, chapterCount) == 16);
static_assert(offsetof(MkvPlaylistProp, ordered) == 24);

struct MkvSimpleTagInfo {
  uint64_t id;        // depth-first position in the current tag
  uint64_t parentId;  // UINT64_MAX at the top level
  uint32_t childCount;
  uint32_t depth;       // 0 at the top level
  uint32_t nameSize;    // bytes of the whole name as UTF-16 with its NUL
  uint32_t stringSize;  // likewise for the string value
  uint32_t binarySize;
  uint8_t isDefault;  // TagDefault (TagOriginal)
  uint8_t reserved[3];
  char language[kPropLanguageChars];
  char16_t name[64];
  char16_t string[kPropTextChars];
};
static_assert(sizeof(MkvSimpleTagInfo) == 432);
static_assert(offsetof(MkvSimpleTagInfo, childCount) == 16);
static_assert(offsetof(MkvSimpleTagInfo, nameSize) == 24);
static_assert(offsetof(MkvSimpleTagInfo, binarySize) == 32);
static_assert(offsetof(MkvSimpleTagInfo, isDefault) == 36);
static_assert(offsetof(MkvSimpleTagInfo, language) == 40);
static_assert(offsetof(MkvSimpleTagInfo, name) == 48);
static_assert(offsetof(MkvSimpleTagInfo, string) == 176);

struct MkvAttachmentProp {
  uint64_t uid;
  uint64_t dataSize;
  uint64_t startTime, endTime;  // as stored
  char16_t name[kPropTextChars];
  char16_t mimeType[64];
  char16_t description[kPropTextChars];
};
static_assert(sizeof(MkvAttachmentProp) == 672);
static_assert(offsetof(MkvAttachmentProp, name) == 32);
static_assert(offsetof(MkvAttachmentProp, mimeType) == 288);
static_assert(offsetof(MkvAttachmentProp, description) == 416);

}  // namespace mkv
