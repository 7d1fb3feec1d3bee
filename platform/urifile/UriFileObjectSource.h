// Where the download thread of a UriFileObject takes the resource's bytes from. On the network
// road it is the in-memory URI file opened on the same URI (the file CreateUriFile makes for a
// network URI without side files); anything else that can hand out bytes by position may stand
// in for it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace VexaUri {

class IUriFileObjectSource {
 public:
  virtual ~IUriFileObjectSource() = default;
  // The total size; false when the source does not know it (it is learnt at the end).
  virtual bool Size(uint64_t* size) = 0;
  // Whether any range may be asked for; false: bytes can only be read in order from 0.
  virtual bool ByteRanges() = 0;
  // Blocks for up to *count bytes at `position`: kUriOk with *count set, kUriEnd past the end,
  // any other UriResult on failure.
  virtual int32_t ReadAt(uint64_t position, void* buffer, uint32_t* count) = 0;
  // Called from another thread: a blocked or later ReadAt answers promptly with a failure.
  virtual void Abort() = 0;
};

// Opens the source; null when it cannot be opened. Runs on the download thread.
using UriFileObjectSourceOpener = std::function<std::unique_ptr<IUriFileObjectSource>()>;

}  // namespace VexaUri
