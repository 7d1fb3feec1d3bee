#include "framework/ModuleProbes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "framework/FileHead.h"
#include "framework/VmfErrors.h"

namespace vmf {
namespace {

constexpr int32_t kScoreMatch = 100;

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

bool EqualsAnyCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsOneOf(std::u16string_view extension, std::initializer_list<std::u16string_view> list) {
  return std::find(list.begin(), list.end(), extension) != list.end();
}

bool IsOneOfAnyCase(std::u16string_view extension,
                    std::initializer_list<std::u16string_view> list) {
  return std::any_of(list.begin(), list.end(),
                     [&](std::u16string_view e) { return EqualsAnyCase(extension, e); });
}

int32_t ScoreIf(bool match) { return match ? kScoreMatch : 0; }

// The common start of every probe: the score is 0 until proven otherwise.
bool BeginProbe(int32_t* score, const char16_t* name) {
  if (score == nullptr) return false;
  *score = 0;
  return name != nullptr;
}

bool StartsWith(const uint8_t* bytes, const char* text) {
  return std::memcmp(bytes, text, std::strlen(text)) == 0;
}

// Content first; the extension counts only when the file cannot be opened.
template <size_t N, typename Judge>
int32_t ProbeContentThenExtension(int32_t* score, const char16_t* name,
                                  VexaOS::MemoryArena* allocator, Judge judge,
                                  bool (*byExtension)(std::u16string_view)) {
  if (!BeginProbe(score, name)) return VMF_FAILED;
  std::array<uint8_t, N> head{};
  switch (ReadFileHead(name, allocator, head.data(), N)) {
    case FileHeadResult::Read:
      *score = ScoreIf(judge(head.data()));
      return VMF_OK;
    case FileHeadResult::CannotOpen:
      *score = ScoreIf(byExtension(NameExtension(name)));
      return VMF_OK;
    default:
      return VMF_FAILED;  // too short, or a read error
  }
}

bool AviByContent(const uint8_t* head) { return StartsWith(head, "RIFF") && StartsWith(head + 8, "AVI "); }
bool AviByExtension(std::u16string_view ext) {
  return IsOneOf(ext, {u".vexa", u".avi", u".AVI", u".VEXA", u".vsbt", u".VSBT"});
}

bool MatroskaByContent(const uint8_t* head) {
  static constexpr uint8_t kEbmlMagic[] = {0x1A, 0x45, 0xDF, 0xA3};
  return std::memcmp(head, kEbmlMagic, sizeof kEbmlMagic) == 0;
}
bool MatroskaByExtension(std::u16string_view ext) { return IsOneOf(ext, {u".mkv", u".vf3"}); }

bool MpegByContent(const uint8_t* head) {
  const bool startCode = head[0] == 0 && head[1] == 0 && head[2] == 1;
  const bool transportOrDss = head[0] == 0x47 || head[0] == 0x11;
  const bool adts = head[0] == 0xFF && (head[1] & 0xF0) == 0xF0;
  return startCode || transportOrDss || adts || StartsWith(head, "DVDVIDEO-VTS");
}
bool MpegByExtension(std::u16string_view ext) {
  return IsOneOfAnyCase(ext, {u".mpg", u".mp2", u".m2t", u".m2ts", u".ts", u".mpv", u".mpa",
                              u".m2v", u".m1v", u".m4v", u".aac"});
}

bool Mp4BoxType(const uint8_t* head) {
  for (const char* box : {"ftyp", "wide", "moov", "mdat", "moof", "mfra", "free", "skip", "pnot"}) {
    if (std::memcmp(head + 4, box, 4) == 0) return true;
  }
  return false;
}

}  // namespace

std::u16string_view NameExtension(std::u16string_view name) {
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return {};
  std::u16string_view extension = name.substr(dot);
  while (!extension.empty() && extension.back() == u' ') extension.remove_suffix(1);
  return extension;
}

int32_t ProbeAvi(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator) {
  return ProbeContentThenExtension<12>(score, name, allocator, AviByContent, AviByExtension);
}

int32_t ProbeMatroska(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator) {
  return ProbeContentThenExtension<83>(score, name, allocator, MatroskaByContent,
                                       MatroskaByExtension);
}

int32_t ProbeMpeg(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator) {
  return ProbeContentThenExtension<12>(score, name, allocator, MpegByContent, MpegByExtension);
}

int32_t ProbeSrt(int32_t* score, const char16_t* name, VexaOS::MemoryArena*) {
  if (!BeginProbe(score, name)) return VMF_FAILED;
  *score = ScoreIf(NameExtension(name) == u".srt");
  return VMF_OK;
}

int32_t ProbeAvc(int32_t* score, const char16_t* name, VexaOS::MemoryArena*) {
  if (!BeginProbe(score, name)) return VMF_FAILED;
  const std::u16string_view extension = NameExtension(name);
  *score = ScoreIf(extension == u".264" || EqualsAnyCase(extension, u".h264"));
  return VMF_OK;
}

int32_t ProbeMp4(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator) {
  if (!BeginProbe(score, name)) return VMF_FAILED;
  const std::u16string_view extension = NameExtension(name);
  if (IsOneOfAnyCase(extension, {u".3gp", u".3g2"})) return VMF_OK;
  if (std::u16string_view(name).starts_with(u"http://")) {
    *score = ScoreIf(IsOneOfAnyCase(extension, {u".mp4", u".m4v", u".m4a", u".mov"}));
    return VMF_OK;
  }
  std::array<uint8_t, 8> head{};
  switch (ReadFileHead(name, allocator, head.data(), head.size())) {
    case FileHeadResult::Read:
      *score = ScoreIf(Mp4BoxType(head.data()));
      return VMF_OK;
    case FileHeadResult::TooShort:
      return VMF_OK;  // the box type is not there: not an MP4 file
    default:
      return VMF_FAILED;
  }
}

}  // namespace vmf
