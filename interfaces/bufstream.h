// The byte-stream record through which bytes pass between the pipeline's nodes, the pipe
// buffers, the sink and the multiplexer library. Its layout is shared with the library: six
// function pointers, each taking the record itself first, then eight data words. A "word" that
// may hold a pointer is pointer-sized.
#pragma once

#include <cstddef>
#include <cstdint>

struct bufstream;

typedef uint32_t (*BufUsableBytesFn)(bufstream* self);
typedef uint8_t* (*BufRequestFn)(bufstream* self, uint32_t count);
typedef uint32_t (*BufConfirmFn)(bufstream* self, uint32_t count);
typedef uint32_t (*BufCopyBytesFn)(bufstream* self, uint8_t* data, uint32_t count);
typedef uint32_t (*BufChunkSizeFn)(bufstream* self);
typedef int32_t (*BufAuxInfoFn)(bufstream* self, uint32_t offset, uint32_t id, void* data,
                                uint32_t size);

struct bufstream {
  BufUsableBytesFn usableBytes;  // free space (writing face) or held data (reading face)
  BufRequestFn request;          // n contiguous bytes, or null
  BufConfirmFn confirm;          // commits or consumes n bytes of the last request
  BufCopyBytesFn copyBytes;      // moves up to n bytes; answers the count moved
  BufChunkSizeFn chunkSize;
  BufAuxInfoFn auxInfo;          // side information; 0 when handled or ignored
  uintptr_t words[8];            // data words 6 to 13
};
static_assert(sizeof(bufstream) == 14 * sizeof(void*));
static_assert(offsetof(bufstream, auxInfo) == 5 * sizeof(void*));
static_assert(offsetof(bufstream, words) == 6 * sizeof(void*));

// Index of a data word in bufstream::words (data word n is words[n - 6]).
constexpr size_t BufWord(size_t n) { return n - 6; }

// auxInfo identifiers.
enum BufAuxId : uint32_t {
  kAuxSampleTiming = 0xF001000,  // a 72-byte SampleTimingRecord: the sample just written ends
  kAuxDemuxSample = 0xD1000,     // the demultiplexer's 78-byte sample record; ignored downstream
  // Reading face of a pipe buffer: moves the oldest queued SampleTimingRecord into the 72-byte
  // data (its size field gives the bytes of that sample in the stream) and answers 0, or
  // answers 1 when none is queued. Every record arrives after the bytes it describes.
  kAuxTakeSampleTiming = 0xF001002,
  // Reading face of a pipe buffer: the reader reads nothing more. A writer waiting for room
  // gives up at once, and later writes are dropped.
  kAuxReaderClosed = 0xF001003,
};
