#include "framework/matroska/MkvEbml.h"

#include <algorithm>
#include <cstring>

#include "framework/VmfErrors.h"

namespace mkv {
namespace {

// Strings and binary values of the header elements; larger ones are damage.
constexpr uint64_t kMaxValueSize = 64ull * 1024 * 1024;

}  // namespace

int32_t ParseEbmlNumber(const uint8_t* p, size_t avail, EbmlReading reading, EbmlNumber* out) {
  if (avail == 0) return VMF_SHORT_READ;
  const uint32_t length = EbmlLength(p[0]);
  if (length > 8) return VMF_ERR_FILE_CORRUPT;
  if (avail < length) return VMF_SHORT_READ;
  // IDs keep their marker bit; sizes and values drop it.
  uint64_t value = reading == EbmlReading::kId ? p[0] : (p[0] & (0xFFu >> length));
  for (uint32_t i = 1; i < length; ++i) value = (value << 8) | p[i];
  out->value = value;
  out->length = length;
  out->allOnes = reading == EbmlReading::kUnsigned && value == (1ull << (7 * length)) - 1;
  return VMF_OK;
}

int32_t ParseEbmlSigned(const uint8_t* p, size_t avail, int64_t* value, uint32_t* length) {
  EbmlNumber n;
  const int32_t rc = ParseEbmlNumber(p, avail, EbmlReading::kUnsigned, &n);
  if (rc != VMF_OK) return rc;
  const int64_t bias = (int64_t{1} << (7 * n.length - 1)) - 1;
  *value = static_cast<int64_t>(n.value) - bias;
  *length = n.length;
  return VMF_OK;
}

int32_t ReadElementHeader(MkvFileCache& file, uint64_t pos, uint64_t parentEnd,
                          ElementHeader* out, bool clip) {
  if (pos >= parentEnd) return VMF_SHORT_READ;
  uint8_t buf[16];
  size_t got = 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buf, parentEnd - pos));
  const int32_t rc = file.ReadSome(pos, buf, want, &got);
  if (rc != VMF_OK) return rc;
  EbmlNumber id;
  int32_t r = ParseEbmlNumber(buf, got, EbmlReading::kId, &id);
  if (r != VMF_OK) return r;
  // Matroska IDs are at most 4 bytes long.
  if (id.length > 4) return VMF_ERR_FILE_CORRUPT;
  EbmlNumber size;
  r = ParseEbmlNumber(buf + id.length, got - id.length, EbmlReading::kUnsigned, &size);
  if (r != VMF_OK) return r;
  out->id = static_cast<uint32_t>(id.value);
  out->start = pos;
  out->data = pos + id.length + size.length;
  out->unknownSize = size.allOnes;
  out->clipped = false;
  if (out->data > parentEnd) return VMF_ERR_FILE_CORRUPT;
  if (size.allOnes) {
    out->size = parentEnd - out->data;
  } else {
    if (size.value > parentEnd - out->data) {
      if (!clip) return VMF_ERR_FILE_CORRUPT;
      out->size = parentEnd - out->data;
      out->clipped = true;
    } else {
      out->size = size.value;
    }
  }
  return VMF_OK;
}

int32_t ReadUnsigned(MkvFileCache& file, const ElementHeader& e, uint64_t* value) {
  if (e.size > 8 || e.unknownSize) return VMF_ERR_FILE_CORRUPT;
  uint8_t buf[8];
  const int32_t rc = file.Read(e.data, buf, static_cast<size_t>(e.size));
  if (rc != VMF_OK) return rc;
  uint64_t v = 0;
  for (uint64_t i = 0; i < e.size; ++i) v = (v << 8) | buf[i];
  *value = v;
  return VMF_OK;
}

int32_t ReadSigned(MkvFileCache& file, const ElementHeader& e, int64_t* value) {
  uint64_t raw = 0;
  const int32_t rc = ReadUnsigned(file, e, &raw);
  if (rc != VMF_OK) return rc;
  if (e.size > 0 && e.size < 8) {
    const uint64_t sign = 1ull << (8 * e.size - 1);
    raw = (raw ^ sign) - sign;  // sign-extend from the stored width
  }
  *value = static_cast<int64_t>(raw);
  return VMF_OK;
}

int32_t ReadFloat(MkvFileCache& file, const ElementHeader& e, double* value) {
  if (e.size == 0) {
    *value = 0;
    return VMF_OK;
  }
  uint64_t raw = 0;
  if (e.size != 4 && e.size != 8) return VMF_ERR_FILE_CORRUPT;
  const int32_t rc = ReadUnsigned(file, e, &raw);
  if (rc != VMF_OK) return rc;
  if (e.size == 4) {
    const uint32_t bits = static_cast<uint32_t>(raw);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    *value = f;
  } else {
    std::memcpy(value, &raw, sizeof *value);
  }
  return VMF_OK;
}

int32_t ReadBinary(MkvFileCache& file, const ElementHeader& e, std::vector<uint8_t>* value) {
  if (e.size > kMaxValueSize || e.unknownSize) return VMF_ERR_FILE_CORRUPT;
  value->resize(static_cast<size_t>(e.size));
  return file.Read(e.data, value->data(), value->size());
}

int32_t ReadString(MkvFileCache& file, const ElementHeader& e, std::string* value) {
  if (e.size > kMaxValueSize || e.unknownSize) return VMF_ERR_FILE_CORRUPT;
  value->resize(static_cast<size_t>(e.size));
  const int32_t rc = file.Read(e.data, reinterpret_cast<uint8_t*>(value->data()), value->size());
  if (rc != VMF_OK) return rc;
  // Strings may be padded with zeros.
  const size_t nul = value->find('\0');
  if (nul != std::string::npos) value->resize(nul);
  return VMF_OK;
}

}  // namespace mkv
