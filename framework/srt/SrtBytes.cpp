#include "framework/srt/SrtBytes.h"

#include <algorithm>
#include <new>

#include "framework/VmfErrors.h"
#include "platform/files/PortableFile.h"
#include "platform/files/StreamIo.h"

namespace srt {
namespace {

class LocalBytes final : public SrtBytes {
 public:
  explicit LocalBytes(VexaFiles::PortableFile* file) : m_file(file) {}
  ~LocalBytes() override { VexaFiles::PortableFileClose(m_file); }
  bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* got) override {
    return VexaFiles::PortableFileRead(m_file, buffer, capacity, got) == VexaFiles::kPortableOk;
  }

 private:
  VexaFiles::PortableFile* m_file;
};

// The network backends refuse a read that passes the size they measured at open instead of
// answering it short, so reads stop at that size.
class StreamBytes final : public SrtBytes {
 public:
  explicit StreamBytes(VexaFiles::StreamIo* stream) : m_stream(stream) {}
  ~StreamBytes() override {
    if (m_open) m_stream->close(m_stream);
    VexaFiles::StreamIoDestroy(m_stream);
  }
  bool Open(const char16_t* name) {
    m_stream->blocking = 1;
    m_open = m_stream->open(m_stream, name, 0) == VMF_OK;
    return m_open;
  }
  bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* got) override {
    *got = 0;
    const uint64_t size = m_stream->size > 0 ? static_cast<uint64_t>(m_stream->size) : 0;
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(capacity, size - std::min(size, m_position)));
    if (count == 0) return true;
    if (m_stream->read(m_stream, buffer, count, got, 1) != VMF_OK) return false;
    m_position += *got;
    return true;
  }

 private:
  VexaFiles::StreamIo* m_stream;
  bool m_open = false;
  uint64_t m_position = 0;
};

}  // namespace

std::unique_ptr<SrtBytes> OpenSrtBytes(const char16_t* name) {
  if (name == nullptr) return nullptr;
  const int32_t kind = VexaFiles::StreamKindForName(name);
  if (kind == VexaFiles::kStreamKindLocal) {
    VexaFiles::PortableFile* file = nullptr;
    if (VexaFiles::PortableFileKind(name) != VexaFiles::kPortableRegularFile ||
        VexaFiles::PortableFileOpen(VexaFiles::kPortableRead | VexaFiles::kPortableText, nullptr, name, &file) !=
            VexaFiles::kPortableOk)
      return nullptr;
    std::unique_ptr<SrtBytes> bytes(new (std::nothrow) LocalBytes(file));
    if (!bytes) VexaFiles::PortableFileClose(file);
    return bytes;
  }
  VexaFiles::StreamIo* stream = nullptr;
  if (VexaFiles::StreamIoCreate(kind, nullptr, nullptr, &stream) != 0) return nullptr;
  std::unique_ptr<StreamBytes> bytes(new (std::nothrow) StreamBytes(stream));
  if (!bytes) {
    VexaFiles::StreamIoDestroy(stream);
    return nullptr;
  }
  if (!bytes->Open(name)) return nullptr;
  return bytes;
}

}  // namespace srt
