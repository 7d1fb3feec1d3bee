#include "platform/urifile/PartialFile.h"

#include <cstring>

#include "platform/files/TextConvert.h"
#include "platform/os/FileUrl.h"
#include "platform/settings/AtomicWrite.h"

namespace VexaUri {
namespace {

constexpr char kInfoMagic[4] = {'V', 'N', 'F', 'O'};
constexpr char kMaskMagic[4] = {'V', 'M', 'S', 'K'};
constexpr uint32_t kNumberPayload = 8;
constexpr uint32_t kEntryHeader = 12;
constexpr uint32_t kRangeBytes = 16;

uint32_t Fnv1a(std::string_view bytes) {
  uint32_t hash = 2166136261u;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 16777619u;
  return hash;
}

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void PutU64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Reads little-endian numbers from a body, refusing every read past its end.
class BodyReader {
 public:
  explicit BodyReader(std::string_view bytes) : m_bytes(bytes) {}
  bool U32(uint32_t& value) { return Number(4, value); }
  bool U64(uint64_t& value) { return Number(8, value); }
  bool Bytes(uint32_t count, std::string_view& out) {
    if (count > Left()) return false;
    out = m_bytes.substr(m_at, count);
    m_at += count;
    return true;
  }
  size_t Left() const { return m_bytes.size() - m_at; }

 private:
  template <typename T>
  bool Number(size_t size, T& value) {
    if (size > Left()) return false;
    value = 0;
    for (size_t i = 0; i < size; ++i)
      value |= static_cast<T>(static_cast<unsigned char>(m_bytes[m_at + i])) << (8 * i);
    m_at += size;
    return true;
  }
  std::string_view m_bytes;
  size_t m_at = 0;
};

// Reads a framed side file's body. `missing` is set for an absent or empty file.
PartialFileResult ReadFramed(const std::string& path, const char (&magic)[4], uint32_t maxBody,
                             std::string& body, bool& missing) {
  body.clear();
  missing = false;
  SideFileHandle file;
  const SideFileOpen opened = file.OpenForReading(path);
  if (opened != SideFileOpen::kOpened) {
    missing = opened == SideFileOpen::kMissing;
    return missing ? kPartialOk : kPartialIoFailed;
  }
  uint64_t size = 0;
  if (!file.Size(&size)) return kPartialIoFailed;
  if (size == 0) {
    missing = true;
    return kPartialOk;
  }
  // Never more than one frame of the largest body: a huge file is refused before it is read.
  const uint64_t limit = uint64_t{kPartialFrameBytes} + maxBody;
  if (size > limit) return kPartialCorrupt;
  std::string bytes(size, '\0');
  uint32_t got = 0;
  if (!file.ReadAt(0, bytes.data(), static_cast<uint32_t>(size), &got)) return kPartialIoFailed;
  bytes.resize(got);
  if (bytes.size() < sizeof magic) return kPartialTruncated;
  if (std::memcmp(bytes.data(), magic, sizeof magic) != 0) return kPartialBadMagic;
  if (bytes.size() < kPartialFrameBytes) return kPartialTruncated;
  BodyReader frame(std::string_view(bytes).substr(sizeof magic));
  uint32_t version = 0, length = 0, checksum = 0;
  frame.U32(version);
  frame.U32(length);
  frame.U32(checksum);
  if (version != kPartialFileVersion) return kPartialBadVersion;
  if (length > maxBody) return kPartialCorrupt;
  if (kPartialFrameBytes + uint64_t{length} > bytes.size()) return kPartialTruncated;
  if (kPartialFrameBytes + uint64_t{length} < bytes.size()) return kPartialCorrupt;
  body = bytes.substr(kPartialFrameBytes);
  if (Fnv1a(body) != checksum) return kPartialCorrupt;
  return kPartialOk;
}

// Replaces `path` whole: a crash leaves either the old or the new file.
PartialFileResult WriteFramed(const std::string& path, const char (&magic)[4], const std::string& body) {
  std::string bytes(magic, sizeof magic);
  PutU32(bytes, kPartialFileVersion);
  PutU32(bytes, static_cast<uint32_t>(body.size()));
  PutU32(bytes, Fnv1a(body));
  bytes += body;
  // Replaced the way the settings store replaces its files: temporary, flushed, renamed; a
  // crash leaves the old file or the new one.
  return veds::ReplaceFileAtPath(path, bytes) ? kPartialOk : kPartialIoFailed;
}

}  // namespace

PartialFileResult PartialFile::PathOf(const char16_t* sideFile, std::string& path) {
  path.clear();
  std::string name;
  if (!sideFile || !VexaFiles::Utf16ToUtf8String(sideFile, name) || name.empty()) return kPartialBadPath;
  const std::string url = name.rfind("file:", 0) == 0 ? name : SideFileHandle::UrlOfLocalPath(name);
  return VexaOS::FileUrlToPath(url.c_str(), path) ? kPartialOk : kPartialBadPath;
}

PartialFileResult PartialFile::Open(const char16_t* infoFile, const char16_t* maskFile,
                                    const char16_t* dataFile) {
  Close();
  std::string dataPath;
  if (PathOf(infoFile, m_infoPath) != kPartialOk || PathOf(maskFile, m_maskPath) != kPartialOk ||
      PathOf(dataFile, dataPath) != kPartialOk)
    return kPartialBadPath;
  std::string body;
  bool missing = false;
  PartialFileResult result = ReadFramed(m_infoPath, kInfoMagic, kPartialMaxInfoBody, body, missing);
  if (result == kPartialOk && !missing) result = LoadInfo(body);
  m_new = missing;
  if (result == kPartialOk && !m_new) {
    result = ReadFramed(m_maskPath, kMaskMagic, kPartialMaxMaskBody, body, missing);
    if (result == kPartialOk && !missing) result = LoadMask(body);
  }
  if (result == kPartialOk) {
    uint64_t size = 0;
    if (!m_data.OpenForUpdate(dataPath, m_new) || !m_data.Size(&size)) result = kPartialIoFailed;
    // Every byte written extends the data file, so a mask reaching past its end is damaged.
    else if (!m_present.Ranges().empty() && m_present.Ranges().back().end > size)
      result = kPartialCorrupt;
  }
  if (result == kPartialOk && m_new) {
    result = SaveMask();
    if (result == kPartialOk) result = SaveInfo();
  }
  if (result != kPartialOk) Close();
  return result;
}

void PartialFile::Close() {
  m_data.Close();
  m_properties.clear();
  m_present.Clear();
  m_new = false;
}

PartialFileResult PartialFile::LoadInfo(const std::string& body) {
  BodyReader reader(body);
  uint32_t count = 0;
  if (!reader.U32(count) || count > kPartialMaxProperties) return kPartialCorrupt;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = 0, kind = 0, length = 0;
    std::string_view payload;
    if (!reader.U32(id) || !reader.U32(kind) || !reader.U32(length) || !reader.Bytes(length, payload))
      return kPartialCorrupt;
    Property property{kPartialNumber, 0, {}};
    if (kind == kPartialNumber && length == kNumberPayload) {
      BodyReader(payload).U64(property.number);
    } else if (kind == kPartialText && length % 2 == 0 && length / 2 <= kPartialMaxTextUnits) {
      property.kind = kPartialText;
      for (size_t at = 0; at < length; at += 2)
        property.text.push_back(static_cast<char16_t>(static_cast<unsigned char>(payload[at]) |
                                                      static_cast<unsigned char>(payload[at + 1]) << 8));
    } else {
      return kPartialCorrupt;
    }
    if (!m_properties.emplace(id, std::move(property)).second) return kPartialCorrupt;
  }
  return reader.Left() == 0 ? kPartialOk : kPartialCorrupt;
}

PartialFileResult PartialFile::LoadMask(const std::string& body) {
  BodyReader reader(body);
  uint32_t count = 0;
  if (!reader.U32(count) || count > kPartialMaxRanges || reader.Left() != uint64_t{count} * kRangeBytes)
    return kPartialCorrupt;
  std::vector<ByteRange> ranges(count);
  for (ByteRange& range : ranges) {
    reader.U64(range.start);
    reader.U64(range.end);
  }
  return m_present.Assign(ranges) ? kPartialOk : kPartialCorrupt;
}

PartialFileResult PartialFile::SaveInfo() {
  std::string body;
  PutU32(body, static_cast<uint32_t>(m_properties.size()));
  for (const auto& [id, property] : m_properties) {
    PutU32(body, id);
    PutU32(body, property.kind);
    if (property.kind == kPartialNumber) {
      PutU32(body, kNumberPayload);
      PutU64(body, property.number);
      continue;
    }
    PutU32(body, static_cast<uint32_t>(property.text.size() * 2));
    for (char16_t unit : property.text) {
      body.push_back(static_cast<char>(unit & 0xFF));
      body.push_back(static_cast<char>(unit >> 8));
    }
  }
  return WriteFramed(m_infoPath, kInfoMagic, body);
}

PartialFileResult PartialFile::SaveMask() {
  std::string body;
  PutU32(body, static_cast<uint32_t>(m_present.Ranges().size()));
  for (const ByteRange& range : m_present.Ranges()) {
    PutU64(body, range.start);
    PutU64(body, range.end);
  }
  return WriteFramed(m_maskPath, kMaskMagic, body);
}

PartialFileResult PartialFile::SetNumber(uint32_t id, uint64_t value) {
  if (!IsOpen()) return kPartialNotOpen;
  auto found = m_properties.find(id);
  if (found == m_properties.end() && m_properties.size() >= kPartialMaxProperties) return kPartialTooLarge;
  m_properties[id] = Property{kPartialNumber, value, {}};
  return SaveInfo();
}

PartialFileResult PartialFile::GetNumber(uint32_t id, uint64_t* value) const {
  auto found = m_properties.find(id);
  if (found == m_properties.end() || found->second.kind != kPartialNumber) return kPartialNoProperty;
  *value = found->second.number;
  return kPartialOk;
}

PartialFileResult PartialFile::SetText(uint32_t id, std::u16string_view text) {
  if (!IsOpen()) return kPartialNotOpen;
  if (text.size() > kPartialMaxTextUnits) return kPartialTooLarge;
  auto found = m_properties.find(id);
  if (found == m_properties.end() && m_properties.size() >= kPartialMaxProperties) return kPartialTooLarge;
  m_properties[id] = Property{kPartialText, 0, std::u16string(text)};
  return SaveInfo();
}

PartialFileResult PartialFile::GetText(uint32_t id, std::u16string& text) const {
  auto found = m_properties.find(id);
  if (found == m_properties.end() || found->second.kind != kPartialText) return kPartialNoProperty;
  text = found->second.text;
  return kPartialOk;
}

PartialFileResult PartialFile::GetText(uint32_t id, char16_t* buffer, uint32_t capacity) const {
  std::u16string text;
  const PartialFileResult result = GetText(id, text);
  if (result != kPartialOk) return result;
  if (text.size() >= capacity) return kPartialTooSmall;
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return kPartialOk;
}

PartialFileResult PartialFile::DeleteProperty(uint32_t id) {
  if (!IsOpen()) return kPartialNotOpen;
  if (m_properties.erase(id) == 0) return kPartialNoProperty;
  return SaveInfo();
}

PartialFileResult PartialFile::WriteData(uint64_t offset, const void* bytes, uint32_t count) {
  if (!IsOpen()) return kPartialNotOpen;
  if (!m_data.WriteAt(offset, bytes, count)) return kPartialIoFailed;
  m_present.Add(offset, offset + count);
  return kPartialOk;
}

PartialFileResult PartialFile::ReadData(uint64_t offset, void* bytes, uint32_t count) const {
  if (!IsOpen()) return kPartialNotOpen;
  uint32_t got = 0;
  if (!m_data.ReadAt(offset, bytes, count, &got)) return kPartialIoFailed;
  return got == count ? kPartialOk : kPartialShortData;
}

PartialFileResult PartialFile::Flush() {
  if (!IsOpen()) return kPartialNotOpen;
  if (!m_data.Sync()) return kPartialIoFailed;
  return SaveMask();
}

PartialFileResult PartialFile::ResetData() {
  if (!IsOpen()) return kPartialNotOpen;
  m_present.Clear();
  const PartialFileResult result = SaveMask();
  if (result != kPartialOk) return result;
  return m_data.Truncate() ? kPartialOk : kPartialIoFailed;
}

}  // namespace VexaUri
