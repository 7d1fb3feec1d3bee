#include "framework/matroska/MkvStreamIoSource.h"

#include <algorithm>

#include "framework/matroska/MkvResult.h"

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
  if (rc != kOk) return rc;
  rc = stream_->open(stream_, name, 0);
  if (rc != kOk) return rc;
  open_ = true;
  size_ = stream_->size > 0 ? static_cast<uint64_t>(stream_->size) : 0;
  position_ = 0;
  return kOk;
}

int32_t MkvStreamIoSource::ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) {
  *got = 0;
  if (!open_ || offset >= size_) return kOk;
  count = static_cast<uint32_t>(std::min<uint64_t>(count, size_ - offset));
  if (offset != position_) {
    int64_t reached = 0;
    const int32_t rc = stream_->seek(stream_, static_cast<int64_t>(offset), 0, &reached);
    position_ = UINT64_MAX;
    if (rc != kOk) return rc;
    position_ = static_cast<uint64_t>(reached);
    if (position_ != offset) return kErrFileCorrupt;
  }
  uint32_t n = 0;
  const int32_t rc = stream_->read(stream_, dst, count, &n, 1);
  if (rc != kOk) {
    position_ = UINT64_MAX;
    return rc;
  }
  *got = std::min(n, count);
  position_ += *got;
  // A download that has not reached this offset yet delivers nothing below its size; a
  // local file that does so has been cut short, which reads as its end.
  if (*got == 0 && stream_->kind != VexaFiles::kStreamKindLocal) return kErrDataNotReady;
  return kOk;
}

}  // namespace mkv
