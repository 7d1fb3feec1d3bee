#include "framework/matroska/MkvStreamIoSource.h"

#include <algorithm>

#include "framework/VmfErrors.h"

namespace mkv {

MkvStreamIoSource::~MkvStreamIoSource() {
  if (m_stream == nullptr) return;
  if (m_open) m_stream->close(m_stream);
  VexaFiles::StreamIoDestroy(m_stream);
}

int32_t MkvStreamIoSource::Open(const char16_t* name, VexaOS::MemoryArena* allocator) {
  int32_t rc = VexaFiles::StreamIoCreate(VexaFiles::StreamKindForName(name), nullptr, allocator, &m_stream);
  if (rc != VMF_OK) return rc;
  rc = m_stream->open(m_stream, name, 0);
  if (rc != VMF_OK) return rc;
  m_open = true;
  m_size = m_stream->size > 0 ? static_cast<uint64_t>(m_stream->size) : 0;
  m_position = 0;
  return VMF_OK;
}

int32_t MkvStreamIoSource::ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) {
  *got = 0;
  if (!m_open || offset >= m_size) return VMF_OK;
  count = static_cast<uint32_t>(std::min<uint64_t>(count, m_size - offset));
  if (offset != m_position) {
    int64_t reached = 0;
    const int32_t rc = m_stream->seek(m_stream, static_cast<int64_t>(offset), 0, &reached);
    m_position = UINT64_MAX;
    if (rc != VMF_OK) return rc;
    m_position = static_cast<uint64_t>(reached);
    if (m_position != offset) return VMF_ERR_FILE_CORRUPT;
  }
  uint32_t n = 0;
  const int32_t rc = m_stream->read(m_stream, dst, count, &n, 1);
  if (rc != VMF_OK) {
    m_position = UINT64_MAX;
    return rc;
  }
  *got = std::min(n, count);
  m_position += *got;
  // A download that has not reached this offset yet delivers nothing below its size; a
  // local file that does so has been cut short, which reads as its end.
  if (*got == 0 && m_stream->kind != VexaFiles::kStreamKindLocal) return VMF_ERR_DATA_NOT_READY;
  return VMF_OK;
}

}  // namespace mkv
