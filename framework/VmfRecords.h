// Plain records exchanged between layer 2, the read modules and their callers.
#pragma once

#include <cstddef>
#include <cstdint>

// The allocator a caller may hand to the framework (the platform's fixed-buffer arena). A null
// allocator means the process heap.
namespace VexaOS {
struct MemoryArena;
}

// Block types: the blockType argument and the *pBlockType result.
inline constexpr int32_t VMF_BLOCK_NONE = 0;
inline constexpr int32_t VMF_BLOCK_AUDIO = 1;
inline constexpr int32_t VMF_BLOCK_VIDEO = 2;
inline constexpr int32_t VMF_BLOCK_SUBTITLE = 3;
inline constexpr int32_t VMF_BLOCK_SUBTITLE_ALIAS = 4;  // counted among the subtitle streams
inline constexpr int32_t VMF_BLOCK_VIDEO_ALIAS = 5;     // counted among the video streams
inline constexpr int32_t VMF_BLOCK_INVALID = 6;

// Block flags.
inline constexpr uint32_t VMF_BLOCK_FLAG_KEYFRAME = 0x10;

// The pValue argument of GetInfo and SetInfo. The value holds, by data type, a 16-bit or 32-bit
// integer in its low bytes, a 64-bit integer, or a pointer to the caller's buffer of `size` bytes.
struct VmfQueryValue {
  uint8_t dataType;
  uint32_t size;
  union {
    uint16_t u16;
    int32_t i32;
    uint32_t u32;
    int64_t i64;
    uint64_t u64;
    void* ptr;
    uint8_t bytes[8];
  } value;
};
static_assert(sizeof(VmfQueryValue) == 16);
static_assert(offsetof(VmfQueryValue, dataType) == 0);
static_assert(offsetof(VmfQueryValue, size) == 4);
static_assert(offsetof(VmfQueryValue, value) == 8);

struct VmfBlock;

// Asked by a module for a buffer of at least `needed` bytes when a decoded block does not fit
// the caller's buffer; answers 0 after replacing data and capacity, nonzero when it cannot.
using VmfBlockEnlarge = int32_t (*)(VmfBlock* block, uint32_t needed);

// The pBlock argument of the read and write operations.
struct VmfBlock {
  uint8_t* data;            // the caller's buffer
  uint32_t size;            // valid bytes after a read; the size needed when the buffer was too small
  uint32_t capacity;        // size of the caller's buffer
  uint32_t flags;           // VMF_BLOCK_FLAG_*
  int64_t time;             // 100-ns units
  int64_t duration;         // 100-ns units
  VmfBlockEnlarge enlarge;  // optional, may be null
  void* enlargeContext;     // the caller's, for its enlarge callback
  uintptr_t moduleWords[4]; // owned by the module that fills the block
};
// 56 bytes on a 32-bit target; 8-byte pointers widen the pointer words and align the times.
constexpr bool kVmfBlockWords32 = sizeof(void*) == 4;
static_assert(sizeof(VmfBlock) == (kVmfBlockWords32 ? 56 : 88));
static_assert(offsetof(VmfBlock, data) == 0);
static_assert(offsetof(VmfBlock, size) == (kVmfBlockWords32 ? 4 : 8));
static_assert(offsetof(VmfBlock, capacity) == (kVmfBlockWords32 ? 8 : 12));
static_assert(offsetof(VmfBlock, flags) == (kVmfBlockWords32 ? 12 : 16));
static_assert(offsetof(VmfBlock, time) == (kVmfBlockWords32 ? 16 : 24));
static_assert(offsetof(VmfBlock, duration) == (kVmfBlockWords32 ? 24 : 32));
static_assert(offsetof(VmfBlock, enlarge) == (kVmfBlockWords32 ? 32 : 40));
static_assert(offsetof(VmfBlock, moduleWords) == (kVmfBlockWords32 ? 40 : 56));

// The answer to VMF_QID_GET_TITLE_MEDIA_PROP for one file (an 8-byte buffer query).
struct VmfTitleMediaProp {
  uint8_t field;
  uint16_t counts[3];  // summed over the files of a handle
};
static_assert(sizeof(VmfTitleMediaProp) == 8);
static_assert(offsetof(VmfTitleMediaProp, counts) == 2);
