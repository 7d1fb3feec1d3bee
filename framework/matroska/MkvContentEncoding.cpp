#include "framework/matroska/MkvContentEncoding.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "framework/VmfErrors.h"

namespace mkv {
namespace {

constexpr size_t kInflateStep = 32768;

bool HasZlibHeader(const uint8_t* p, size_t n) {
  return n >= 2 && p[0] == 0x78 && (p[1] == 0xDA || p[1] == 0x9C || p[1] == 0x5E);
}

// zlib's stream state, released on every path.
class Inflater {
 public:
  Inflater() { m_ok = inflateInit(&m_zstream) == Z_OK; }
  ~Inflater() {
    if (m_ok) inflateEnd(&m_zstream);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool Ok() const { return m_ok; }
  z_stream& Stream() { return m_zstream; }

 private:
  z_stream m_zstream{};
  bool m_ok = false;
};

int32_t Inflate(const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  if (!HasZlibHeader(p, n)) return VMF_BAD_DATA;
  Inflater inflater;
  if (!inflater.Ok()) return VMF_BAD_DATA;
  z_stream& z = inflater.Stream();
  z.next_in = const_cast<Bytef*>(p);
  size_t consumed = 0;
  out->resize(std::min(n / 16 + n + 33280, kMaxInflatedFrame));
  size_t produced = 0;
  for (;;) {
    // Feed and drain in steps, so that the sizes fit zlib's 32-bit counters.
    if (z.avail_in == 0 && consumed < n) {
      z.avail_in = static_cast<uInt>(std::min(kInflateStep, n - consumed));
      consumed += z.avail_in;
    }
    if (produced == out->size()) {
      if (out->size() >= kMaxInflatedFrame) return VMF_BAD_DATA;
      out->resize(std::min(out->size() * 2, kMaxInflatedFrame));
    }
    z.next_out = out->data() + produced;
    z.avail_out = static_cast<uInt>(std::min(kInflateStep, out->size() - produced));
    const uInt before = z.avail_out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    produced += before - z.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_OK) continue;
    // No progress: fine while more input is to come, else the stream is cut short.
    if (rc != Z_BUF_ERROR || (z.avail_in == 0 && consumed >= n)) return VMF_BAD_DATA;
  }
  out->resize(produced);
  return VMF_OK;
}

}  // namespace

int32_t DecodeFrame(const MkvTrack& track, const uint8_t* p, size_t n, std::vector<uint8_t>* out) {
  out->clear();
  switch (track.compression) {
    case Compression::kNone:
      out->assign(p, p + n);
      return VMF_OK;
    case Compression::kHeaderStripping:
      out->reserve(track.compressionSettings.size() + n);
      out->assign(track.compressionSettings.begin(), track.compressionSettings.end());
      out->insert(out->end(), p, p + n);
      return VMF_OK;
    case Compression::kZlib:
      return Inflate(p, n, out);
    case Compression::kBzip2:
    case Compression::kLzo:
      return VMF_BAD_DATA;
  }
  return VMF_BAD_DATA;
}

size_t DecodedSizeHint(const MkvTrack& track, size_t n) {
  switch (track.compression) {
    case Compression::kNone: return n;
    case Compression::kHeaderStripping: return n + track.compressionSettings.size();
    default: return 0;
  }
}

}  // namespace mkv
