#include "tests/support/HostileFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/EbmlWriter.h"

namespace HostileFiles {
namespace {

using mkvtest::Cat;
using mkvtest::IdBytes;

// Sizes always take 8 bytes, so that a variant can write any size in place.
Bytes Size(uint64_t v) { return mkvtest::SizeBytes(v, 8); }
Bytes Element(uint32_t id, const Bytes& payload) { return Cat({IdBytes(id), Size(payload.size()), payload}); }
Bytes Uint(uint32_t id, uint64_t v) { return Element(id, mkvtest::UintBytes(v)); }
Bytes Text(uint32_t id, const std::string& s) { return Element(id, Bytes(s.begin(), s.end())); }

constexpr uint32_t kSegment = 0x18538067, kCluster = 0x1F43B675, kTracks = 0x1654AE6B, kInfo = 0x1549A966;
constexpr uint32_t kSimpleBlock = 0xA3, kTimecodeScale = 0x2AD7B1, kChapters = 0x1043A770;

// Masters whose children the boundary walk enters.
bool IsMaster(uint32_t id) {
  for (uint32_t m : {0x1A45DFA3u, kSegment, kCluster, kTracks, kInfo, 0xAEu, 0xE0u, 0xE1u, 0x1C53BB6Bu, 0xBBu,
                     0xB7u, 0x114D9B74u, 0x4DBBu, 0xA0u})
    if (m == id) return true;
  return false;
}

struct Span {
  uint32_t id;
  size_t start, sizeAt, data, end;
};

// Every element of `b` from `pos` to `end`, in file order (headers as SoundFile writes them).
void Walk(const Bytes& b, size_t pos, size_t end, std::vector<Span>* out) {
  while (pos + 1 < end) {
    const uint8_t first = b[pos];
    size_t idLength = first >= 0x80 ? 1 : first >= 0x40 ? 2 : first >= 0x20 ? 3 : 4;
    uint32_t id = 0;
    for (size_t i = 0; i < idLength; ++i) id = id << 8 | b[pos + i];
    uint64_t size = 0;
    for (size_t i = 1; i < 8; ++i) size = size << 8 | b[pos + idLength + i];
    const Span s{id, pos, pos + idLength, pos + idLength + 8, pos + idLength + 8 + size};
    if (s.end > end) return;
    out->push_back(s);
    if (IsMaster(id)) Walk(b, s.data, s.end, out);
    pos = s.end;
  }
}

Bytes WithSize(Bytes b, const Span& s, uint64_t size) {
  const Bytes field = Size(size);
  std::copy(field.begin(), field.end(), b.begin() + s.sizeAt);
  return b;
}

// Inserted as the last child of the first cluster of `base`, or just before that cluster
// (the sizes around it mended).
Bytes IntoFirstCluster(const Bytes& base, const Bytes& extra, bool before = false) {
  std::vector<Span> spans;
  Walk(base, 0, base.size(), &spans);
  Bytes out = base;
  for (const Span& s : spans)
    if (s.id == kCluster) {
      out.insert(out.begin() + (before ? s.start : s.end), extra.begin(), extra.end());
      for (const Span& p : spans)
        if ((p.id == kSegment || (p.id == kCluster && !before)) && p.start <= s.start && p.end >= s.end)
          out = WithSize(out, p, p.end - p.data + extra.size());
      return out;
    }
  return out;
}

// `depth` elements of `id`, each the only child of the one before, around `core`; written
// outside in, in one pass.
Bytes Nested(uint32_t id, int depth, const Bytes& core) {
  const size_t header = IdBytes(id).size() + 8;
  Bytes b;
  b.reserve(depth * header + core.size());
  for (int i = 0; i < depth; ++i) {
    const Bytes h = Cat({IdBytes(id), Size((depth - 1 - i) * header + core.size())});
    b.insert(b.end(), h.begin(), h.end());
  }
  b.insert(b.end(), core.begin(), core.end());
  return b;
}

}  // namespace

Bytes SoundFile() {
  const Bytes sps = {0x67, 0x42, 0xC0, 0x0D, 0xD9, 0x01, 0x04, 0x4F, 0xE5, 0x84, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xC8, 0x3C, 0x50, 0xA9, 0x20};
  const Bytes pps = {0x68, 0xCB, 0x83, 0xCB, 0x20};
  const Bytes avcC = Cat({Bytes{1, 0x42, 0xC0, 0x0D, 0xFF, 0xE1, 0, static_cast<uint8_t>(sps.size())}, sps,
                          Bytes{1, 0, static_cast<uint8_t>(pps.size())}, pps});
  const Bytes video = Element(0xAE, Cat({Uint(0xD7, 1), Uint(0x83, 1), Text(0x86, "V_MPEG4/ISO/AVC"),
                                         Uint(0x23E383, 40000000), Element(0x63A2, avcC),
                                         Element(0xE0, Cat({Uint(0xB0, 64), Uint(0xBA, 48)}))}));
  const Bytes audio = Element(0xAE, Cat({Uint(0xD7, 2), Uint(0x83, 2), Text(0x86, "A_AAC"), Element(0x63A2, Bytes{0x12, 0x10}),
                                         Element(0xE1, Cat({Element(0xB5, Bytes{0x47, 0x2C, 0x44, 0x00}), Uint(0x9F, 2)}))}));
  const Bytes info = Element(kInfo, Cat({Uint(kTimecodeScale, 1000000), Text(0x4D80, "hostile"), Text(0x5741, "hostile")}));
  Bytes clusters;
  for (int c = 0; c < 3; ++c) {
    Bytes blocks = Uint(0xE7, c * 200);
    for (int f = 0; f < 5; ++f) {
      const uint8_t key = f == 0 ? 0x80 : 0x00;
      const Bytes nal = {0, 0, 0, 6, static_cast<uint8_t>(f == 0 ? 0x65 : 0x41), 0x88, 0x84, 0x21, 0xA0, static_cast<uint8_t>(f)};
      blocks = Cat({blocks, Element(kSimpleBlock, Cat({Bytes{0x81, 0, static_cast<uint8_t>(f * 40), key}, nal})),
                    Element(kSimpleBlock, Cat({Bytes{0x82, 0, static_cast<uint8_t>(f * 40), 0x80}, Bytes{0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C}}))});
    }
    clusters = Cat({clusters, Element(kCluster, blocks)});
  }
  const Bytes tracks = Element(kTracks, Cat({video, audio}));
  // Cues after the clusters, found through the seek head; positions count from the
  // segment's data.
  const Bytes headPlaceholder = Element(0x114D9B74, Element(0x4DBB, Cat({Element(0x53AB, IdBytes(0x1C53BB6B)), Element(0x53AC, Bytes(8))})));
  const uint64_t firstCluster = headPlaceholder.size() + info.size() + tracks.size();
  Bytes cuePoints;
  std::vector<Span> spans;
  Walk(clusters, 0, clusters.size(), &spans);
  int index = 0;
  for (const Span& s : spans)
    if (s.id == kCluster)
      cuePoints = Cat({cuePoints, Element(0xBB, Cat({Uint(0xB3, 200 * index++),
                                                      Element(0xB7, Cat({Uint(0xF7, 1), Uint(0xF1, firstCluster + s.start)}))}))});
  const Bytes cues = Element(0x1C53BB6B, cuePoints);
  Bytes cuesAt = Size(firstCluster + clusters.size());
  cuesAt[0] = 0;  // a plain 8-byte unsigned value
  const Bytes head = Element(0x114D9B74, Element(0x4DBB, Cat({Element(0x53AB, IdBytes(0x1C53BB6B)), Element(0x53AC, cuesAt)})));
  const Bytes ebml = Element(0x1A45DFA3, Cat({Uint(0x4286, 1), Text(0x4282, "matroska"), Uint(0x4287, 4), Uint(0x4285, 2)}));
  return Cat({ebml, Element(kSegment, Cat({head, info, tracks, clusters, cues}))});
}

std::vector<Variant> Variants(const Bytes& base) {
  std::vector<Variant> out;
  std::vector<Span> spans;
  Walk(base, 0, base.size(), &spans);
  auto add = [&](const std::string& kind, const std::string& name, Bytes bytes) {
    out.push_back({kind, name + ".mkv", std::move(bytes)});
  };
  add("sound", "sound", base);
  for (size_t i = 0; i < spans.size(); ++i) {
    const Span& s = spans[i];
    const std::string n = std::to_string(i);
    // Every element's end but the file's is another element's start: one cut covers both.
    if (s.start > 0) add("truncated at an element start", "cut-start-" + n, Bytes(base.begin(), base.begin() + s.start));
    add("truncated inside an element header", "cut-header-" + n, Bytes(base.begin(), base.begin() + s.sizeAt + 3));
    add("size larger than the file", "size-huge-" + n, WithSize(base, s, 0x00FFFFFFFFFFFF00ull));
    add("size past the parent by one", "size-plus-" + n, WithSize(base, s, s.end - s.data + 1));
    add("zero size", "size-zero-" + n, WithSize(base, s, 0));
  }
  uint32_t seed = 12345;
  for (int i = 0; i < 64; ++i) {
    seed = seed * 1103515245 + 12345;
    Bytes b = base;
    const size_t at = (seed >> 8) % b.size();
    b[at] ^= static_cast<uint8_t>(1u << (seed & 7));
    add("one bit flipped", "flip-" + std::to_string(i), b);
  }
  add("deep nesting in a cluster", "nest-cluster", IntoFirstCluster(base, Nested(0xA0, 20000, Bytes{})));
  add("deep nesting of chapters", "nest-chapters",
      IntoFirstCluster(base, Element(kChapters, Element(0x45B9, Nested(0xB6, 5000, Uint(0x73C4, 1)))), true));
  const Bytes lace255 = Cat({Bytes{0x82, 0, 0, 0x82, 254}, Bytes(254, 0xFF), Bytes{7, 7, 7}});
  add("255 Xiph-laced frames whose sizes pass the block", "lace-xiph", IntoFirstCluster(base, Element(kSimpleBlock, lace255)));
  add("255 EBML-laced frames whose sizes pass the block", "lace-ebml",
      IntoFirstCluster(base, Element(kSimpleBlock, Cat({Bytes{0x82, 0, 0, 0x86, 254, 0x40, 0x10}, Bytes(253, 0xBF), Bytes{1, 2}}))));
  add("255 fixed-laced frames that do not divide the block", "lace-fixed",
      IntoFirstCluster(base, Element(kSimpleBlock, Cat({Bytes{0x82, 0, 0, 0x84, 254}, Bytes(300, 1)}))));
  for (const Span& s : spans)
    if (s.id == kTimecodeScale) {
      Bytes b = base;
      for (size_t i = s.data; i < s.end; ++i) b[i] = 0xFF;
      add("timecode scale of 2^64-1 on 2^64-1 cluster times", "huge-scale",
          IntoFirstCluster(b, Uint(0xE7, UINT64_MAX)));
      break;
    }
  add("large element of an unknown kind before the clusters", "unknown-large",
      IntoFirstCluster(base, Element(0x1BADBEEF, Bytes(5000, 0x55)), true));
  add("nothing but the EBML magic", "magic-only", Bytes{0x1A, 0x45, 0xDF, 0xA3});
  add("empty", "empty", Bytes{});
  return out;
}

std::vector<Special> MakeSpecialFiles(const std::string& dir) {
  const std::string folder = dir + "/folder.mkv", fifo = dir + "/fifo.mkv", zero = dir + "/zero.mkv";
  ::mkdir(folder.c_str(), 0755);
  ::mkfifo(fifo.c_str(), 0644);
  ::symlink("/dev/zero", zero.c_str());
  return {{"a directory", folder}, {"a FIFO with no writer", fifo}, {"/dev/zero", zero}};
}

}  // namespace HostileFiles
