#include "framework/matroska/MkvStreamIoSource.h"

#include <algorithm>

#include "framework/VmfErrors.h"

namespace mkv {

MkvStreamIoSource::~MkvStreamIoSource() {
  if (stream_ == nullptr) return;
  if (open_) stream_->close(stream_);
  VexaFiles::StreamIoDestroy(stream_);
}

int32_t MkvStreamIoSource::Open(const char16_t* name, VexaOS::MemoryArena* allocator) {
  const bool remote = name[0] == u'h' && name[1] == u't' && name[2] == u't' && name[3] == u'p' && name[4] == u':';
  const int32_t kind = remote ? VexaFiles::kStreamKindDownloadManager : VexaFiles::kStreamKindLocal;
  int32_t rc = VexaFiles::StreamIoCreate(kind, nullptr, allocator, &stream_);
  if (rc != VMF_OK) return rc;
  rc = stream_->open(stream_, name, 0);
  if (rc != VMF_OK) return rc;
  open_ = true;
  size_ = stream_->size > 0 ? static_cast<uint64_t>(stream_->size) : 0;
  position_ = 0;
  return VMF_OK;
}

int32_t MkvStreamIoSource::ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) {
  *got = 0;
  if (!open_ || offset >= size_) return VMF_OK;
  count = static_cast<uint32_t>(std::min<uint64_t>(count, size_ - offset));
  if (offset != position_) {
    int64_t reached = 0;
    const int32_t rc = stream_->seek(stream_, static_cast<int64_t>(offset), 0, &reached);
    position_ = UINT64_MAX;
    if (rc != VMF_OK) return rc;
    position_ = static_cast<uint64_t>(reached);
    if (position_ != offset) return VMF_ERR_FILE_CORRUPT;
  }
  uint32_t n = 0;
  const int32_t rc = stream_->read(stream_, dst, count, &n, 1);
  if (rc != VMF_OK) {
    position_ = UINT64_MAX;
    return rc;
  }
  *got = std::min(n, count);
  position_ += *got;
  // A download that has not reached this offset yet delivers nothing below its size; a
  // local file that does so has been cut short, which reads as its end.
  if (*got == 0 && stream_->kind != VexaFiles::kStreamKindLocal) return VMF_ERR_DATA_NOT_READY;
  return VMF_OK;
}

}  // namespace mkv
