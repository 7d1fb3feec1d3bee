// The result codes and seek origins shared by every byte source named by a URI: IUriFile and
// its classes, UriSource, LocalFileHandle and the HTTP engine. They cross the IUriFile
// boundary unchanged, so the numbers are fixed.
#pragma once

#include <cstdint>

namespace VexaFiles {

enum UriResult : int32_t {
  kUriOk = 0,
  kUriNotReady = 1,          // a non-blocking call before data or the connection is there
  kUriEnd = 2,               // end of data
  kUriMovedNothing = 3,      // LocalFileHandle: a read or write moved 0 bytes
  kUriFailed = 6,
  kUriTooSmall = 7,          // a fixed-size buffer or pool is too small
  kUriNullArgument = 8,
  kUriNotImplemented = 9,
  kUriAborted = 10,          // aborted, or a blocking wait gave up
  kUriNotSupported = 11,
  kUriAuthRefused = 14,      // the server refused the credentials (or asked for some)
};

// How Seek moves a position. The portable file layer (PortableFile.h) names its own origins in
// this namespace too, with a kSeekFromEnd of 2; these sit in an inline namespace so that one
// file may include both headers (it then names this one VexaFiles::UriSeek::kSeekFromEnd).
inline namespace UriSeek {
enum SeekOrigin : uint32_t {
  kSeekForward = 0,   // position + offset
  kSeekBackward = 1,  // position - offset, clamped at 0
  kSeekAbsolute = 2,  // offset
  kSeekFromEnd = 3,   // size - offset, clamped at 0
};
}  // namespace UriSeek

}  // namespace VexaFiles
