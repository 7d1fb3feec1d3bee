#pragma once
// The result codes the Matroska reader answers: the framework's codes under short names,
// and the plain negative values its operations use.
#include <cstdint>

#include "framework/VmfErrors.h"

namespace mkv {

constexpr int32_t kOk = VMF_OK;
constexpr int32_t kBadArgument = VMF_FAILED;     // also: a track without picture size
constexpr int32_t kMissingArgument = VMF_MISSING_ARGUMENT;
constexpr int32_t kShortRead = VMF_SHORT_READ;       // the bytes of a number or element are not there
constexpr int32_t kNotSupported = VMF_BAD_DATA;    // content compression the reader cannot undo
constexpr int32_t kBufferTooSmall = VMF_OUT_OF_MEMORY; // the caller's block buffer must grow
constexpr int32_t kNoMemory = VMF_OUT_OF_MEMORY;

constexpr int32_t kErrInvalidStream = VMF_ERR_INVALID_STREAM;
constexpr int32_t kErrSeekFailure = VMF_ERR_SEEK_FAILURE;
constexpr int32_t kErrInvalidFile = VMF_ERR_INVALID_FILE;
constexpr int32_t kErrEndOfStream = VMF_ERR_END_OF_STREAM;
constexpr int32_t kErrBufferTooSmall = VMF_ERR_BUFFER_TOO_SMALL;
constexpr int32_t kErrUnsupportedQid = VMF_ERR_UNSUPPORTED_QID;
constexpr int32_t kErrCodecUnsupported = VMF_ERR_CODEC_UNSUPPORTED;
constexpr int32_t kErrFileCorrupt = VMF_ERR_FILE_CORRUPT;
constexpr int32_t kErrParseTracks = VMF_ERR_VF3_PARSE_TRACKS;
constexpr int32_t kErrParseSegmentInfo = VMF_ERR_VF3_PARSE_SEGMENTINFO;
constexpr int32_t kErrParseCues = VMF_ERR_VF3_PARSE_CUES;
constexpr int32_t kErrParseSeekHead = VMF_ERR_VF3_PARSE_SEEKHEAD;
constexpr int32_t kErrParseHierarchical = VMF_ERR_VF3_PARSE_HIERARCHICAL;
constexpr int32_t kErrParseTags = VMF_ERR_VF3_PARSE_TAGS;
constexpr int32_t kErrParseAttachments = VMF_ERR_VF3_PARSE_ATTACHMENTS;
constexpr int32_t kErrParseChapters = VMF_ERR_VF3_PARSE_CHAPTERS;
constexpr int32_t kErrCombineFieldsUnsupported = VMF_ERR_COMBINE_FIELDS_UNSUPPORTED;
constexpr int32_t kErrKill = VMF_ERR_KILL;
constexpr int32_t kErrDataNotReady = VMF_ERR_DATA_NOT_READY;

}  // namespace mkv
