#include "framework/matroska/MkvLacing.h"

#include "framework/matroska/MkvEbml.h"
#include "framework/VmfErrors.h"

namespace mkv {
namespace {

// Xiph: each size is a run of 255s closed by a byte below 255.
int32_t ParseXiphSizes(const uint8_t* p, size_t n, LaceLayout* out, size_t* pos, uint64_t* sum) {
  for (uint32_t i = 0; i + 1 < out->count; ++i) {
    uint64_t size = 0;
    uint8_t byte = 255;
    while (byte == 255) {
      if (*pos >= n) return VMF_ERR_FILE_CORRUPT;
      byte = p[(*pos)++];
      size += byte;
    }
    if (size > n) return VMF_ERR_FILE_CORRUPT;
    out->sizes[i] = static_cast<uint32_t>(size);
    *sum += size;
  }
  return VMF_OK;
}

// EBML: the first size unsigned, each further one the previous plus a signed difference.
int32_t ParseEbmlSizes(const uint8_t* p, size_t n, LaceLayout* out, size_t* pos, uint64_t* sum) {
  int64_t size = 0;
  for (uint32_t i = 0; i + 1 < out->count; ++i) {
    if (i == 0) {
      EbmlNumber first;
      if (ParseEbmlNumber(p + *pos, n - *pos, EbmlReading::kUnsigned, &first) != VMF_OK)
        return VMF_ERR_FILE_CORRUPT;
      if (first.value > n) return VMF_ERR_FILE_CORRUPT;
      size = static_cast<int64_t>(first.value);
      *pos += first.length;
    } else {
      int64_t diff = 0;
      uint32_t length = 0;
      if (ParseEbmlSigned(p + *pos, n - *pos, &diff, &length) != VMF_OK) return VMF_ERR_FILE_CORRUPT;
      size += diff;
      *pos += length;
    }
    if (size < 0 || static_cast<uint64_t>(size) > n) return VMF_ERR_FILE_CORRUPT;
    out->sizes[i] = static_cast<uint32_t>(size);
    *sum += static_cast<uint64_t>(size);
  }
  return VMF_OK;
}

}  // namespace

int32_t ParseLacing(Lacing lacing, const uint8_t* p, size_t n, LaceLayout* out) {
  if (lacing == Lacing::kNone) {
    out->count = 1;
    out->headerLength = 0;
    out->sizes[0] = static_cast<uint32_t>(n);
    return n > UINT32_MAX ? VMF_ERR_FILE_CORRUPT : VMF_OK;
  }
  if (n < 1) return VMF_ERR_FILE_CORRUPT;
  out->count = static_cast<uint32_t>(p[0]) + 1;
  size_t pos = 1;
  uint64_t sum = 0;
  if (lacing == Lacing::kFixed) {
    const uint64_t rest = n - 1;
    if (rest % out->count != 0) return VMF_ERR_FILE_CORRUPT;
    for (uint32_t i = 0; i < out->count; ++i) out->sizes[i] = static_cast<uint32_t>(rest / out->count);
    out->headerLength = 1;
    return VMF_OK;
  }
  const int32_t rc = lacing == Lacing::kXiph ? ParseXiphSizes(p, n, out, &pos, &sum)
                                             : ParseEbmlSizes(p, n, out, &pos, &sum);
  if (rc != VMF_OK) return rc;
  if (sum > n - pos) return VMF_ERR_FILE_CORRUPT;
  out->sizes[out->count - 1] = static_cast<uint32_t>(n - pos - sum);
  out->headerLength = pos;
  return VMF_OK;
}

}  // namespace mkv
