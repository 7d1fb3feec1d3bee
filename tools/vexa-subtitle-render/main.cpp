// vexa-subtitle-render [--font FILE] [--pgm FILE] WIDTH HEIGHT TEXT PACKET
// Renders TEXT (UTF-8, tags allowed; pass line feeds with $'...' in the shell) as a cue from
// 0 to 1 s for a WIDTH x HEIGHT frame, builds the bitmap packet for the frame's display area
// and writes it to PACKET. With --pgm the bitmap is also written as a grey image: clear pixels
// black, the outline grey, the text white.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleRasteriser.h"
#include "platform/files/TextConvert.h"

namespace {

using namespace vmf;

constexpr uint64_t kCueEnd = 10'000'000;  // 1 s in 100-ns units
// The colours the SRT read module gives packets: clear and outline black, text near white.
constexpr uint8_t kPacketColours[12] = {0, 0, 0, 0, 0, 0, 254, 254, 254, 254, 254, 254};
constexpr uint8_t kGreyOf[4] = {0, 128, 255, 64};

struct Options {
  std::string font, pgm, text, packet;
  int32_t width = 0, height = 0;
};

int Usage() {
  std::fprintf(stderr, "usage: vexa-subtitle-render [--font FILE] [--pgm FILE] WIDTH HEIGHT TEXT PACKET\n");
  return 2;
}

bool ParseArguments(int argc, char** argv, Options* o) {
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--font" || arg == "--pgm") && i + 1 < argc) {
      (arg == "--font" ? o->font : o->pgm) = argv[++i];
    } else {
      plain.push_back(arg);
    }
  }
  if (plain.size() != 4) return false;
  o->width = std::atoi(plain[0].c_str());
  o->height = std::atoi(plain[1].c_str());
  o->text = plain[2];
  o->packet = plain[3];
  return o->width > 0 && o->height > 0;
}

bool WriteFile(const std::string& path, const void* data, size_t size, const char* head = "") {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fputs(head, f) >= 0 && std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool WritePgm(const std::string& path, const PixelPlane& plane) {
  std::vector<uint8_t> grey(plane.values.size());
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = kGreyOf[plane.values[i] & 3];
  const std::string head = "P5\n" + std::to_string(plane.width) + " " + std::to_string(plane.height) + "\n255\n";
  return WriteFile(path, grey.data(), grey.size(), head.c_str());
}

int Fail(const char* what, int32_t code) {
  std::fprintf(stderr, "vexa-subtitle-render: %s (code %d)\n", what, static_cast<int>(code));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArguments(argc, argv, &o)) return Usage();
  std::u16string font;
  if (!o.font.empty() && !VexaFiles::Utf8ToUtf16String(o.font, font)) return Usage();
  SubtitlePreset preset;
  if (!PickSubtitlePreset(o.width, o.height, &preset)) return Fail("no display area for this frame size", kSubtitleNoPreset);

  SubtitleRasteriserPtr context;
  int32_t rc = CreateSubtitleRasteriser(o.font.empty() ? nullptr : font.c_str(), &context);
  if (rc != kSubtitleOk) return Fail("cannot make the rasteriser", rc);
  uint32_t width = static_cast<uint32_t>(o.width), height = static_cast<uint32_t>(o.height);
  SubtitleBytes bitmap;
  char timeText[kTimeTextSize];
  rc = RenderSubtitle(context.get(), o.width, o.height, &width, &height, &bitmap, &o, timeText, o.text.c_str(), 0, kCueEnd);
  if (rc != kSubtitleOk) return Fail("render failed", rc);
  std::printf("bitmap %ux%u %s\n", width, height, timeText);
  if (!o.pgm.empty() && !WritePgm(o.pgm, UnpackFourBit(bitmap.get(), width, height))) return Fail("cannot write the image", 0);

  SubtitleRecord record{};
  std::memcpy(record.timeText, timeText, sizeof record.timeText);
  record.width = static_cast<uint16_t>(width);
  record.height = static_cast<uint16_t>(height);
  std::memcpy(record.colours, kPacketColours, sizeof record.colours);
  uint16_t length = 0;
  SubtitleBytes packet;
  rc = BuildSubtitlePacket(preset, bitmap.get(), record, &length, &packet, true);
  if (rc != kSubtitleOk) return Fail("packet not built", rc);
  SubtitleRecord header;
  std::memcpy(&header, packet.get(), sizeof header);
  std::printf("packet %u bytes, %ux%u at (%u,%u)-(%u,%u)\n", length, header.width, header.height, header.x1, header.y1,
              header.x2, header.y2);
  return WriteFile(o.packet, packet.get(), length) ? 0 : Fail("cannot write the packet", 0);
}
