// The partial local copy of a downloaded resource: three side files named by the caller.
//
//   info file  properties of the download: numbers (64-bit) and texts, each under a 32-bit id
//              (the URL, the total size, flags such as "ranges cannot be requested", and
//              whatever the caller stores);
//   mask file  the byte ranges of the data that are present;
//   data file  the resource's bytes at their own offsets; missing ranges are holes.
//
// The info and mask files share one frame, all numbers little-endian:
//
//   offset  size  field
//   0       4     magic: "VNFO" (info) or "VMSK" (mask)
//   4       4     layout version, kPartialFileVersion; any other version is refused
//   8       4     body length in bytes (at most kPartialMaxInfoBody / kPartialMaxMaskBody)
//   12      4     FNV-1a (32-bit) of the body
//   16      ...   body, exactly `body length` bytes; nothing may follow it
//
//   info body: u32 count (at most kPartialMaxProperties), then `count` entries of
//              {u32 id, u32 kind (1 number, 2 text), u32 payload length, payload}; a number's
//              payload is 8 bytes, a text's is its UTF-16LE units (even length, at most
//              kPartialMaxTextUnits units, no terminator). An id appears at most once.
//   mask body: u32 count, then `count` ranges {u64 start, u64 end}, end exclusive, sorted,
//              each non-empty, neither overlapping nor touching the one before; the body is
//              exactly 4 + 16 x count bytes.
//
// Every length and count is checked against the bytes actually read before it is used, so a
// damaged or hostile side file is refused with a result code and never read past.
//
// Crash safety: the info and mask files are replaced whole (written to "<name>.tmp", flushed,
// renamed over the old one), so a crash leaves the old or the new file. Data is written to the
// data file first and reaches the mask file only through Flush, which syncs the data file
// before it writes the mask: the mask on disk never names bytes that did not reach the disk.
//
// A side-file path that does not begin with "file:" is taken as a local absolute path ("/dir/x",
// or "C:\dir\x" on Windows) and becomes its file URL (with '%' escaped); a path beginning with
// "file:" is a file URL as it stands. Not thread-safe: the owner serialises access, except
// ReadData, which may run beside anything but Open, Close and Reset.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/urifile/PartialFileRanges.h"
#include "platform/urifile/SideFileHandle.h"

namespace VexaUri {

enum PartialFileResult : int32_t {
  kPartialOk = 0,
  kPartialBadPath = 1,      // a side-file path that is null or names no local absolute path
  kPartialIoFailed = 2,     // the system refused to open, read, write or sync a side file
  kPartialBadMagic = 3,     // a side file that does not begin with its magic word
  kPartialBadVersion = 4,   // a layout version this code does not read
  kPartialTruncated = 5,    // shorter than its frame says
  kPartialCorrupt = 6,      // checksum, lengths or contents that do not hold together
  kPartialNoProperty = 7,   // no property of that id and kind
  kPartialTooSmall = 8,     // the caller's buffer cannot hold the text and its terminator
  kPartialTooLarge = 9,     // a text, or a property count, beyond the limits
  kPartialNotOpen = 10,
  kPartialShortData = 11,   // the data file holds fewer bytes than asked for
};

constexpr uint32_t kPartialFileVersion = 1;
constexpr uint32_t kPartialFrameBytes = 16;
constexpr uint32_t kPartialMaxProperties = 256;
constexpr uint32_t kPartialMaxTextUnits = 4096;
constexpr uint32_t kPartialMaxInfoBody = 4 + kPartialMaxProperties * (12 + 2 * kPartialMaxTextUnits);
constexpr uint32_t kPartialMaxRanges = 1u << 20;
constexpr uint32_t kPartialMaxMaskBody = 4 + 16 * kPartialMaxRanges;

enum PartialPropertyKind : uint32_t { kPartialNumber = 1, kPartialText = 2 };

class PartialFile {
 public:
  PartialFile() = default;
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Opens the three side files, creating those that are missing. An info file that is missing
  // or empty starts a new copy: the mask and data files are emptied. Otherwise the info and
  // mask files are read and checked (a missing or empty mask means no bytes yet). On failure
  // nothing stays open.
  PartialFileResult Open(const char16_t* infoFile, const char16_t* maskFile, const char16_t* dataFile);
  void Close();
  bool IsOpen() const { return m_data.IsOpen(); }
  // True when Open started a new copy rather than finding one.
  bool IsNew() const { return m_new; }

  PartialFileResult SetNumber(uint32_t id, uint64_t value);
  PartialFileResult GetNumber(uint32_t id, uint64_t* value) const;
  PartialFileResult SetText(uint32_t id, std::u16string_view text);
  // Copies the text and a terminator into `buffer` (capacity in units).
  PartialFileResult GetText(uint32_t id, char16_t* buffer, uint32_t capacity) const;
  PartialFileResult GetText(uint32_t id, std::u16string& text) const;
  PartialFileResult DeleteProperty(uint32_t id);

  // Writes bytes at their offset and counts them present (in memory; on disk after Flush).
  PartialFileResult WriteData(uint64_t offset, const void* bytes, uint32_t count);
  // Reads exactly `count` bytes at `offset`.
  PartialFileResult ReadData(uint64_t offset, void* bytes, uint32_t count) const;
  // Syncs the data file, then records the present ranges in the mask file.
  PartialFileResult Flush();
  // Forgets every byte: the data file is emptied and the mask cleared (on disk too).
  PartialFileResult ResetData();
  const PartialFileRanges& Present() const { return m_present; }

  // The local path a side-file name stands for (see the header comment).
  static PartialFileResult PathOf(const char16_t* sideFile, std::string& path);

 private:
  struct Property {
    PartialPropertyKind kind;
    uint64_t number;
    std::u16string text;
  };

  PartialFileResult LoadInfo(const std::string& body);
  PartialFileResult LoadMask(const std::string& body);
  PartialFileResult SaveInfo();
  PartialFileResult SaveMask();

  std::string m_infoPath;
  std::string m_maskPath;
  SideFileHandle m_data;
  std::map<uint32_t, Property> m_properties;
  PartialFileRanges m_present;
  bool m_new = false;
};

}  // namespace VexaUri
