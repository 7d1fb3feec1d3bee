// The framework's result codes. 0 is success; codes with the high bit set are errors, codes
// with 0x40000000 set are warnings. The operations also answer a few plain negative values.
#pragma once

#include <cstdint>
#include <span>

// Every named code with its message, in table order. The order is part of the vocabulary:
// VMF_ERR_KILL stands before VMF_ERR_AVC_STREAM_NOT_SUPPORTED although its value is higher.
#define VMF_ERROR_LIST(X) \
  X(VMF_ERR_NO_INDEX_FOUND, 0x40000002, "No index found in file.") \
  X(VMF_ERR_INVALID_MENU_VERSION, 0x40000003, "Invalid menu version.") \
  X(VMF_WARN_NONFATAL, 0x40000004, "Unknown warning.") \
  X(VMF_ERR_UNEXPECTED_ERROR, 0xC0000005, "Unknown error.") \
  X(VMF_ERR_INVALID_HANDLER, 0xC0000006, "Invalid container handle.") \
  X(VMF_ERR_INVALID_STREAM_HANDLE, 0xC0000007, "Invalid stream handle.") \
  X(VMF_ERR_INVALID_STREAM, 0xC0000008, "Invalid stream.") \
  X(VMF_ERR_BLOCK_READ_FAILURE, 0xC0000009, "Failed to read media block.") \
  X(VMF_ERR_BLOCK_BUFFER_TOO_SMALL, 0xC000000A, "Block buffer too small.") \
  X(VMF_ERR_SEEK_FAILURE, 0xC000000B, "Failed to execute seek.") \
  X(VMF_ERR_CREATE_INSTANCE, 0xC000000C, "Failed to create instance.") \
  X(VMF_ERR_CREATE_READ_BUFFER, 0xC000000D, "Failed to create read buffer, memory may be low.") \
  X(VMF_ERR_INVALID_FILE, 0xC000000E, "Invalid file.") \
  X(VMF_ERR_HDRL_NOT_FOUND, 0xC000000F, "AVI file struture error, no hdrl found.") \
  X(VMF_ERR_DUPLICATE_STRH_FOUND, 0xC0000010, "AVI file struture error, duplicate strh's.") \
  X(VMF_ERR_TOO_MANY_VID_STREAMS, 0xC0000011, "Too many video streams.") \
  X(VMF_ERR_TOO_MANY_AUD_STREAMS, 0xC0000012, "Too many audio streams.") \
  X(VMF_ERR_TOO_MANY_SUB_STREAMS, 0xC0000013, "Too many subtitle streams.") \
  X(VMF_ERR_BAD_STRUCTURE, 0xC0000014, "Bad file structure.") \
  X(VMF_ERR_INDEX_OUT_OF_RANGE, 0xC0000015, "Index out of range.") \
  X(VMF_ERR_GET_BLOCK_FAILED, 0xC0000016, "Get block failed.") \
  X(VMF_ERR_SET_BLOCK_FAILED, 0xC0000017, "Set block failed.") \
  X(VMF_ERR_SET_BY_TIME_FAILED, 0xC0000018, "Set by time failed.") \
  X(VMF_ERR_SET_BY_BLOCK_FAILED, 0xC0000019, "Set by block failed.") \
  X(VMF_ERR_END_OF_STREAM, 0xC000001A, "End of stream.") \
  X(VMF_ERR_SET_TITLE_FAILED, 0xC000001B, "Set title failure.") \
  X(VMF_ERR_PROCESS_INDEX_FAILED, 0xC000001C, "Failure when processing index.") \
  X(VMF_ERR_INVALID_BLOCK_AND_TIME, 0xC000001D, "Invalid block time.") \
  X(VMF_ERR_SCAN_RIFF_FAILURE, 0xC000001E, "AVI file struture error, failure when processing headers.") \
  X(VMF_ERR_NO_METADATA_PRESENT, 0xC000001F, "No metadata is found in file.") \
  X(VMF_ERR_BUFFER_TOO_SMALL, 0xC0000021, "Buffer too small for data.") \
  X(VMF_ERR_MENU_FUNC_NULL, 0xC0000022, "Menu function does not exist.") \
  X(VMF_ERR_MENU_MODULE_NULL, 0xC0000023, "Menu module not loaded.") \
  X(VMF_ERR_NO_MENU_FOUND, 0xC0000024, "Menu not found.") \
  X(VMF_ERR_UNSUPPORTED_QID, 0xC0000025, "Query ID value not supported by module.") \
  X(VMF_ERR_REMOTE_FILE_UNSUPPORTED, 0xC0000026, "Remote file module not loaded.") \
  X(VMF_ERR_INVALID_QUERY_ID, 0xC0000027, "Invalid query ID.") \
  X(VMF_ERR_INVALID_QUERY_DTYPE, 0xC0000028, "Data type invalid for query.") \
  X(VMF_ERR_INVALID_SUBTITLE, 0xC0000029, "Invalid subtitle.") \
  X(VMF_ERR_AUDIO_FORMAT_BAD, 0xC000002A, "Unsupported audio format.") \
  X(VMF_ERR_INVALID_HTTP_SERVER, 0xC000002B, "Invalid HTTP server.") \
  X(VMF_ERR_NO_DATA_STAT_FILES, 0xC000002C, "Remote file error, no statistics file.") \
  X(VMF_ERR_DATA_NOT_READY, 0xC000002D, "Data not ready to read.") \
  X(VMF_ERR_GET_MODULE_ID, 0xC000002E, "Failed to get module ID.") \
  X(VMF_ERR_CODEC_UNSUPPORTED, 0xC000002F, "Unsupported codec.") \
  X(VMF_ERR_NULL_MODULE_FUNC, 0xC0000030, "Funtion does not exist in module.") \
  X(VMF_ERR_UNSUPPORTED_CONTAINER, 0xC0000031, "Unsupported container type.") \
  X(VMF_ERR_OPEN_CONTAINER, 0xC0000032, "Failed to open container.") \
  X(VMF_ERR_LAYER1_FUNC_ERR, 0xC0000033, "Generic Layer 1 function error.") \
  X(VMF_ERR_BAD_MODULE_ID, 0xC0000034, "Invalid module ID.") \
  X(VMF_ERR_MEM_FREE, 0xC0000035, "Failed to free memory.") \
  X(VMF_ERR_LAYER1_MODULE_INIT, 0xC0000036, "Failed to initialize module.") \
  X(VMF_ERR_UNDEFINED_ENTRY, 0xC0000037, "undefined module entry point.") \
  X(VMF_ERR_NULL_MODULE_ID, 0xC0000038, "Module ID null.") \
  X(VMF_ERR_BLOCK_BUFFER_NULL, 0xC0000039, "Block buffer NULL.") \
  X(VMF_ERR_ATTACHMENT_LINK_INVALID, 0xC000003B, "Attachment link invalid.") \
  X(VMF_ERR_UNSUPPORTED_SPS_DATA, 0xC000003C, "unsupported H.264 SPS data.") \
  X(VMF_ERR_OUTSIDE_RANGE, 0xC000003D, "Outside range.") \
  X(VMF_ERR_LACING_AUD_TYPE_INVALID, 0xC000003E, "Invalid audio lacing type.  Audio format may not support lacing!") \
  X(VMF_ERR_AR_IDC_INVALID, 0xC000003F, "Invalid H.264 aspect ratio index.") \
  X(VMF_ERR_AR_EXTENDED_UNSUPPORTED, 0xC0000040, "Extended aspect ratio unsupported.") \
  X(VMF_ERR_STRH_NOT_FOUND, 0xC0000043, "AVI file struture error, no strf found.") \
  X(VMF_ERR_DUPLICATE_STRF_FOUND, 0xC0000045, "AVI file struture error, duplicate strf's.") \
  X(VMF_ERR_STRL_NOT_FOUND, 0xC0000046, "AVI file struture error, no strl found.") \
  X(VMF_ERR_MOVI_NOT_FOUND, 0xC0000047, "AVI file struture error, no movi list found.") \
  X(VMF_ERR_FILE_CORRUPT, 0xC0000048, "File is corrupt.") \
  X(VMF_ERR_FILE_OPEN_FAILURE, 0xC0000049, "Failed to open file.") \
  X(VMF_ERR_STREAM_DNE, 0xC000004A, "Stream does not exist.") \
  X(VMF_ERR_INVALID_TITLE_INDEX, 0xC000004B, "Invalid title index.") \
  X(VMF_ERR_VF3_PARSE_TRACKS, 0xC000004C, "MKV parser error, in tracks element") \
  X(VMF_ERR_VF3_PARSE_SEGMENTINFO, 0xC000004D, "MKV parser error, in segmentinfo element") \
  X(VMF_ERR_VF3_PARSE_CUES, 0xC000004E, "MKV parser error, in cues element") \
  X(VMF_ERR_VF3_PARSE_SEEKHEAD, 0xC000004F, "MKV parser error, in seekhead element") \
  X(VMF_ERR_VF3_PARSE_HIERARCHICAL, 0xC0000050, "MKV parser error, in Hierarchical Index element") \
  X(VMF_ERR_VF3_PARSE_TAGS, 0xC0000051, "MKV parser error, in Tags element") \
  X(VMF_ERR_VF3_PARSE_ATTACHMENTS, 0xC0000052, "MKV parser error, in Attachments element") \
  X(VMF_ERR_VF3_PARSE_CHAPTERS, 0xC0000053, "MKV parser error, in Chapters element") \
  X(VMF_ERR_FONT_NOT_FOUND, 0xC0000054, "Failed to load font.") \
  X(VMF_ERR_RESOLUTION_UNSUPPORTED, 0xC0000055, "Resolution unsupported.") \
  X(VMF_ERR_FRAMERATE_UNSUPPORTED, 0xC0000056, "Framerate unsupported.") \
  X(VMF_ERR_DECODING_FAILURE, 0xC0000057, "Decoding failure.") \
  X(VMF_ERR_COMBINE_FIELDS_UNSUPPORTED, 0xC0000058, "Combine fields requested on unsupported bitstream type.") \
  X(VMF_ERR_FONT_OPTIMIZATION_FAILURE, 0xC000005B, "Failed to optimize font.") \
  X(VMF_ERR_INDEX_INCOMPLETE, 0xC000005C, "Index is still building.") \
  X(VMF_ERR_BAD_SUB_ENCODING, 0xC000005D, "subtitle file is not utf8 encoded.") \
  X(VMF_ERR_KILL, 0xC0000064, "Kill command received.") \
  X(VMF_ERR_AVC_STREAM_NOT_SUPPORTED, 0xC000005E, "The AVC stream has properties not supported.") \

#define VMF_DECLARE_ERROR(name, code, message) inline constexpr int32_t name = static_cast<int32_t>(code##u);
VMF_ERROR_LIST(VMF_DECLARE_ERROR)
#undef VMF_DECLARE_ERROR

// The plain values the operations answer besides the table.
inline constexpr int32_t VMF_OK = 0;
inline constexpr int32_t VMF_FAILED = -1;            // wrong handle marker, empty module slot
inline constexpr int32_t VMF_MISSING_ARGUMENT = -2;  // a required pointer argument is null
inline constexpr int32_t VMF_SHORT_READ = -4;        // fewer bytes than a structure needs
inline constexpr int32_t VMF_BAD_DATA = -8;          // data that cannot be decoded
inline constexpr int32_t VMF_OUT_OF_MEMORY = -10;    // allocation failed, or a buffer too small

struct VmfErrorEntry {
  int32_t code;
  const char* name;
  const char* message;
};

// The whole table in its order.
std::span<const VmfErrorEntry> VmfErrorTable();

// The table row for a code, or null when the code is not in the table.
const VmfErrorEntry* VmfFindError(int32_t code);
