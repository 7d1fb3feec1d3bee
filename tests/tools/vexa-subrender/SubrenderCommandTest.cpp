// vexa-subrender from a shell: its pictures are read back by FFmpeg, so the PNG writer, the
// packet decoder and the placement are checked by a reader that is not ours.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"

namespace {

class SubrenderCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestEnvironment();
    std::ofstream(Path("cues.srt")) << "1\n00:00:01,000 --> 00:00:03,000\nHello\n<i>world</i>\n";
  }
  std::string Path(const std::string& name) const { return (m_dir.path() / name).string(); }
  int Run(const std::string& arguments) {
    return RunShell(std::string("'") + VEXA_SUBRENDER + "' " + arguments + " 2>" + Path("stderr.txt") + " >/dev/null")
        .exitCode;
  }
  // The picture as FFmpeg decodes it: its size and its RGBA bytes.
  struct Picture {
    std::string size, rgba;
  };
  static Picture Decode(const std::string& png) {
    return {RunShell("ffprobe -v error -of csv=p=0 -show_entries stream=width,height " + png).output,
            RunShell("ffmpeg -nostdin -v error -i " + png + " -f rawvideo -pix_fmt rgba -").output};
  }
  // How many of its pixels are not transparent.
  static size_t Opaque(const Picture& picture) {
    size_t opaque = 0;
    for (size_t i = 3; i < picture.rgba.size(); i += 4) opaque += picture.rgba[i] != 0;
    return opaque;
  }

  ProcessTestTools::TempDir m_dir{"subrender"};
};

TEST_F(SubrenderCommandTest, TextPacketAndCuePicturesAgree) {
  ASSERT_EQ(Run("--text 'Hello\n<i>world</i>' --frame 640x480 --packet " + Path("cue.pkt") + " " +
                Path("text.png")), 0);
  ASSERT_EQ(Run("--frame 640x480 " + Path("cue.pkt") + " " + Path("packet.png")), 0);
  ASSERT_EQ(Run("--srt " + Path("cues.srt") + " --at 2 " + Path("srt.png")), 0);
  const Picture text = Decode(Path("text.png"));
  EXPECT_EQ(text.size, "640,480\n");
  EXPECT_GT(Opaque(text), 1000u);
  for (const char* same : {"packet.png", "srt.png"}) {  // the packet alone, the cue showing at 2 s
    const Picture p = Decode(Path(same));
    EXPECT_TRUE(p.size == text.size && p.rgba == text.rgba) << same;
  }
}

TEST_F(SubrenderCommandTest, NoCueIsATransparentPictureAndBadInputFails) {
  ASSERT_EQ(Run("--srt " + Path("cues.srt") + " --at 5 " + Path("none.png")), 0);
  EXPECT_NE(ProcessTestTools::ReadText(Path("stderr.txt")).find("no cue shows"), std::string::npos);
  const Picture none = Decode(Path("none.png"));
  EXPECT_EQ(none.size, "640,480\n");
  EXPECT_EQ(Opaque(none), 0u);
  std::ofstream(Path("short.pkt")) << "[00:00:01.000-00:00:02.000]\x10";
  const struct { std::string arguments; int status; } refusals[] = {
      {Path("short.pkt") + " " + Path("x.png"), 1},
      {Path("missing.pkt") + " " + Path("x.png"), 1},
      {"--srt " + Path("cues.srt") + " " + Path("x.png"), 2},  // no --at
      {"--frame 0x480 " + Path("short.pkt") + " " + Path("x.png"), 2},
  };
  for (const auto& r : refusals) EXPECT_EQ(Run(r.arguments), r.status) << r.arguments;
}

}  // namespace
