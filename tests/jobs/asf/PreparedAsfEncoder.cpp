// An encoder that stands in for FFmpeg where FFmpeg cannot run (Windows under Wine): called
// with the ASF job's command line, it names its input in an FFmpeg-like banner on standard
// error, then writes the prepared stream INPUT.asf to standard output in 64 KiB pieces 2 ms
// apart, as an encoder delivers its output over time, and exits 0 (1 without the file).
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/PortableFile.h"
#include "platform/files/ProgramArguments.h"
#include "platform/files/StandardOutput.h"
#include "platform/files/TextConvert.h"

namespace {

constexpr uint32_t kPieceBytes = 64 * 1024;
constexpr auto kPace = std::chrono::milliseconds(2);

// The argument after "-i".
std::string InputOf(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i + 1 < arguments.size(); ++i)
    if (arguments[i] == "-i") return arguments[i + 1];
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = VexaFiles::ProgramArguments(argc, argv);
  const std::string input = InputOf(arguments);
  std::fprintf(stderr, "Input #0, matroska,webm, from '%s':\n", input.c_str());
  std::u16string name;
  VexaFiles::PortableFile* prepared = nullptr;
  if (!VexaFiles::Utf8ToUtf16String(input + ".asf", name) ||
      VexaFiles::PortableFileOpen(VexaFiles::kPortableRead | VexaFiles::kPortableSequential, nullptr,
                                  name.c_str(), &prepared) != VexaFiles::kPortableOk) {
    std::fprintf(stderr, "%s.asf: No such file or directory\n", input.c_str());
    return 1;
  }
  std::fprintf(stderr, "  Duration: 00:00:05.00, start: 0.000000, bitrate: 1000 kb/s\n");
  FILE* out = VexaFiles::TakeStandardOutput();
  std::vector<char> piece(kPieceBytes);
  uint32_t got = 0;
  while (out && VexaFiles::PortableFileRead(prepared, piece.data(), kPieceBytes, &got) == VexaFiles::kPortableOk &&
         got > 0) {
    if (std::fwrite(piece.data(), 1, got, out) != got || std::fflush(out) != 0) break;
    std::this_thread::sleep_for(kPace);
  }
  VexaFiles::PortableFileClose(prepared);
  return out && got == 0 && std::fclose(out) == 0 ? 0 : 1;
}
