// vexa-subrender: bitmap subtitle packets as pictures, for a person to look at.
//   vexa-subrender [--frame WxH] PACKET OUT.png
//     draws a packet file (as the rasteriser builds it, or a block of vexa-mkvdump
//     --write-blocks) on a canvas of the packet's area (x2+1 x y2+1) or of the frame;
//   vexa-subrender --srt FILE.srt --at SECONDS [--frame WxH] OUT.png
//     opens the SubRip file through the media framework in bitmap output and draws the cue
//     showing at that time on the frame (640x480 unless --frame), or nothing;
//   vexa-subrender --text TEXT [--frame WxH] [--font F] [--packet OUT.pkt] [--pgm OUT.pgm]
//                  [--repeat N] OUT.png
//     renders TEXT as a one-second cue for the frame (960x720 unless --frame), builds its
//     packet and draws it; --pgm writes the rasteriser's bitmap values (0 to 3) as a grey
//     image of maximum 3, --repeat renders N more times and prints the median time one cue takes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleRasteriser.h"
#include "platform/files/ProgramArguments.h"
#include "platform/files/TextConvert.h"
#include "tools/vexa-subrender/PacketPicture.h"
#include "tools/vexa-subrender/SrtCuePacket.h"

namespace {

using namespace vmf;
using subrender::DecodedPacket;

constexpr uint64_t kCueEnd = 10'000'000;  // 1 s in 100-ns units
constexpr uint32_t kTextFrameWidth = 960, kTextFrameHeight = 720;
constexpr int kUsageStatus = 2;
constexpr int kFailStatus = 1;

enum class Mode { kPacket, kSrt, kText };

struct Options {
  Mode mode = Mode::kPacket;
  std::string input, out, font, packetOut, pgmOut;
  double at = -1;  // --srt needs it
  uint32_t frameWidth = 0, frameHeight = 0;  // 0: the mode's default
  uint32_t repeat = 0;
};

int Usage() {
  std::fprintf(stderr,
               "usage: vexa-subrender [--frame WxH] PACKET OUT.png\n"
               "       vexa-subrender --srt FILE.srt --at SECONDS [--frame WxH] OUT.png\n"
               "       vexa-subrender --text TEXT [--frame WxH] [--font F] [--packet OUT.pkt] [--pgm OUT.pgm]\n"
               "                      [--repeat N] OUT.png\n");
  return kUsageStatus;
}

int Fail(const std::string& what, int32_t code = 0) {
  std::fprintf(stderr, "vexa-subrender: %s", what.c_str());
  if (code != 0) std::fprintf(stderr, " (code %d)", static_cast<int>(code));
  std::fprintf(stderr, "\n");
  return kFailStatus;
}

bool ParseFrame(const char* text, Options* o) {
  unsigned w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(text, "%ux%u%c", &w, &h, &tail) != 2 || w == 0 || h == 0) return false;
  o->frameWidth = w;
  o->frameHeight = h;
  return true;
}

// Options that take a value; false for an unknown one or a missing value.
bool TakeOption(const std::string& arg, const char* value, Options* o) {
  if (value == nullptr) return false;
  if (arg == "--frame") return ParseFrame(value, o);
  if (arg == "--srt" || arg == "--text") {
    o->mode = arg == "--srt" ? Mode::kSrt : Mode::kText;
    o->input = value;
  } else if (arg == "--at") {
    char* end = nullptr;
    o->at = std::strtod(value, &end);
    return *end == '\0' && o->at >= 0;
  } else if (arg == "--repeat") {
    o->repeat = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
  } else if (arg == "--font" || arg == "--packet" || arg == "--pgm") {
    (arg == "--font" ? o->font : arg == "--packet" ? o->packetOut : o->pgmOut) = value;
  } else {
    return false;
  }
  return true;
}

bool ParseArguments(int argc, char** argv, Options* o) {
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (!TakeOption(arg, i + 1 < argc ? argv[i + 1] : nullptr, o)) return false;
      ++i;
    } else {
      plain.push_back(arg);
    }
  }
  if (o->mode == Mode::kPacket) {
    if (plain.size() != 2) return false;
    o->input = plain[0];
  } else if (plain.size() != 1 || (o->mode == Mode::kSrt && o->at < 0)) {
    return false;
  }
  o->out = plain.back();
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

bool WriteFile(const std::string& path, const void* data, size_t size, const std::string& head = "") {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fputs(head.c_str(), f) >= 0 && std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// The bitmap's palette values themselves, so a picture compares exactly.
bool WriteValuePgm(const std::string& path, const PixelPlane& plane) {
  const std::string head = "P5\n" + std::to_string(plane.width) + " " + std::to_string(plane.height) + "\n3\n";
  return WriteFile(path, plane.values.data(), plane.values.size(), head);
}

// Decodes a packet and writes it as a picture of the given canvas (0 x 0: the packet's area).
int DrawPacket(const uint8_t* packet, size_t size, uint32_t width, uint32_t height, const std::string& out) {
  DecodedPacket decoded;
  const subrender::PacketResult rc = subrender::DecodeSubtitlePacket(packet, size, &decoded);
  if (rc != subrender::kPacketOk) return Fail(std::string("packet not decoded: ") + subrender::PacketResultText(rc), rc);
  if (width == 0 || height == 0) {
    width = uint32_t{decoded.header.x2} + 1;
    height = uint32_t{decoded.header.y2} + 1;
  }
  const subrender::RgbaPicture picture = subrender::PaintPacket(decoded, width, height);
  std::printf("packet %zu bytes, %ux%u at (%u,%u), %s transparency bytes; picture %ux%u\n", size,
              decoded.header.width, decoded.header.height, decoded.header.x1, decoded.header.y1,
              decoded.hasTransparency ? "with" : "without", width, height);
  return subrender::WritePng(out, picture) ? 0 : Fail("cannot write " + out);
}

int DrawPacketFile(const Options& o) {
  std::vector<uint8_t> packet;
  if (!ReadWholeFile(o.input, &packet)) return Fail("cannot read " + o.input);
  return DrawPacket(packet.data(), packet.size(), o.frameWidth, o.frameHeight, o.out);
}

int DrawSrtCue(const Options& o) {
  subrender::SrtCuePacket cue;
  const int32_t rc = subrender::FindSrtCuePacket(o.input, o.at, o.frameWidth, o.frameHeight, &cue);
  if (rc != 0) return Fail("cannot read " + o.input + ": " + cue.failure, rc);
  if (cue.packet.empty()) {
    std::fprintf(stderr, "vexa-subrender: no cue shows at %.3f s; the picture is transparent\n", o.at);
    return subrender::WritePng(o.out, subrender::RgbaPicture(cue.frameWidth, cue.frameHeight)) ? 0
                                                                                                : Fail("cannot write " + o.out);
  }
  std::printf("cue from %.3f s to %.3f s\n", cue.start, cue.end);
  return DrawPacket(cue.packet.data(), cue.packet.size(), cue.frameWidth, cue.frameHeight, o.out);
}

// One cue drawn and built into its packet, as the SRT read module does it.
struct BuiltCue {
  PixelPlane bitmap;
  SubtitleBytes packet;
  uint16_t length = 0;
};

int32_t BuildCue(SubtitleRasteriser* context, const Options& o, SubtitlePreset preset, BuiltCue* cue) {
  SubtitleBytes bitmap;
  uint32_t width = 0, height = 0;
  const int32_t rc = RenderCuePacket(context, o.frameWidth, o.frameHeight, o.input.c_str(), 0, kCueEnd, preset,
                                     &cue->packet, &cue->length, &bitmap, &width, &height);
  if (rc == kSubtitleOk) cue->bitmap = UnpackFourBit(bitmap.get(), width, height);
  return rc;
}

// Processor time of the calling thread: on a busy machine it tells more than the wall clock.
double ThreadCpuMicros() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Median wall-clock and processor time over `repeat` cues of render plus packet.
int32_t TimeCues(SubtitleRasteriser* context, const Options& o, SubtitlePreset preset) {
  std::vector<double> wall, cpu;
  for (uint32_t i = 0; i < o.repeat; ++i) {
    BuiltCue cue;
    const auto begin = std::chrono::steady_clock::now();
    const double cpuBegin = ThreadCpuMicros();
    const int32_t rc = BuildCue(context, o, preset, &cue);
    cpu.push_back(ThreadCpuMicros() - cpuBegin);
    wall.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    if (rc != kSubtitleOk) return rc;
  }
  std::printf("per cue over %u cues: median %.1f us wall, %.1f us cpu\n", o.repeat, Median(wall), Median(cpu));
  return kSubtitleOk;
}

int DrawText(Options o) {
  if (o.frameWidth == 0) {
    o.frameWidth = kTextFrameWidth;
    o.frameHeight = kTextFrameHeight;
  }
  std::u16string font;
  if (!o.font.empty() && !VexaFiles::Utf8ToUtf16String(o.font, font)) return Usage();
  SubtitlePreset preset;
  if (!PickSubtitlePreset(static_cast<int32_t>(o.frameWidth), static_cast<int32_t>(o.frameHeight), &preset))
    return Fail("no display area for this frame size", kSubtitleNoPreset);
  SubtitleRasteriserPtr context;
  int32_t rc = CreateSubtitleRasteriser(o.font.empty() ? nullptr : font.c_str(), &context);
  if (rc != kSubtitleOk) return Fail("cannot make the rasteriser", rc);
  BuiltCue cue;
  rc = BuildCue(context.get(), o, preset, &cue);
  if (rc != kSubtitleOk) return Fail("cue not drawn into a packet", rc);
  std::printf("bitmap %ux%u\n", cue.bitmap.width, cue.bitmap.height);
  if (!o.pgmOut.empty() && !WriteValuePgm(o.pgmOut, cue.bitmap)) return Fail("cannot write " + o.pgmOut);
  if (!o.packetOut.empty() && !WriteFile(o.packetOut, cue.packet.get(), cue.length)) return Fail("cannot write " + o.packetOut);
  if (o.repeat > 0 && (rc = TimeCues(context.get(), o, preset)) != kSubtitleOk) return Fail("timed cue failed", rc);
  return DrawPacket(cue.packet.get(), cue.length, o.frameWidth, o.frameHeight, o.out);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> utf8Arguments = VexaFiles::ProgramArguments(argc, argv);
  std::vector<char*> argumentPointers = VexaFiles::ArgumentPointers(utf8Arguments);
  argv = argumentPointers.data();
  Options o;
  if (!ParseArguments(argc, argv, &o)) return Usage();
  switch (o.mode) {
    case Mode::kPacket: return DrawPacketFile(o);
    case Mode::kSrt: return DrawSrtCue(o);
    default: return DrawText(o);
  }
}
