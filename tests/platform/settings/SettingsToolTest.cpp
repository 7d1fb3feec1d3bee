// vexa-settings run as a shell would run it, with the commands the README shows.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/settings/VexaSettings.h"
#include "tests/platform/settings/SettingsFixture.h"

extern char** environ;

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

Result Tool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), VEXA_SETTINGS_TOOL);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_EQ(::pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  pid_t pid;
  Result result;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  result.out = Drain(out[0]);  // small outputs: the pipes never fill while the other waits
  result.err = Drain(err[0]);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

using SettingsTool = SettingsTest;

TEST_F(SettingsTool, SetStringMakesTheFFmpegPathReadable) {
  Result set = Tool({"set-string", "Settings/VexaMediaServer", "FFmpegPath", "/usr/bin/ffmpeg"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "");
  std::string path;
  ASSERT_TRUE(veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  EXPECT_EQ(path, "/usr/bin/ffmpeg");
  Result get = Tool({"get", "Settings/VexaMediaServer", "FFmpegPath"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "/usr/bin/ffmpeg\n");
}

// One altered byte in the user layer: every command says so and changes nothing, and no reader
// takes the machine layer's value instead.
TEST_F(SettingsTool, ADamagedKeyIsReportedNeverPassedOver) {
  ASSERT_EQ(Tool({"--machine", "set-string", "Settings/P", "V", "machine"}).status, 0);
  ASSERT_EQ(Tool({"set-string", "Settings/P", "V", "user"}).status, 0);
  const std::string file = ValuesFile(userRoot_, "SOFTWARE/Vexa/Settings/P");
  std::string text = Slurp(file);
  text[text.find("user")] = 'U';
  std::ofstream(file) << text;
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"get", "Settings/P", "V"}, {"list", "Settings/P"}, {"set-string", "Settings/P", "W", "w"},
           {"delete", "Settings/P", "V"}}) {
    Result result = Tool(arguments);
    EXPECT_EQ(result.status, 3) << arguments[0];
    EXPECT_NE(result.err.find("damaged"), std::string::npos) << arguments[0];
  }
  EXPECT_EQ(Slurp(file), text);
  std::string value;
  EXPECT_FALSE(veds::ReadSettingString(u"P", u"V", value));
}

TEST_F(SettingsTool, MachineLayerAndFallback) {
  ASSERT_EQ(Tool({"--machine", "set-string", "Settings/VexaMediaServer", "FFmpegPath", "/opt/ffmpeg/bin/ffmpeg"}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(ValuesFile(machineRoot_, "SOFTWARE/Vexa/Settings/VexaMediaServer")));
  EXPECT_EQ(Tool({"get", "Settings/VexaMediaServer", "FFmpegPath"}).out, "/opt/ffmpeg/bin/ffmpeg\n");
  std::string path;
  ASSERT_TRUE(veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  EXPECT_EQ(path, "/opt/ffmpeg/bin/ffmpeg");
  ASSERT_EQ(Tool({"set-string", "settings/vexamediaserver", "ffmpegpath", "/home/me/ffmpeg"}).status, 0);
  EXPECT_EQ(Tool({"get", "Settings/VexaMediaServer", "FFmpegPath"}).out, "/home/me/ffmpeg\n");
  EXPECT_EQ(Tool({"--machine", "get", "Settings/VexaMediaServer", "FFmpegPath"}).out, "/opt/ffmpeg/bin/ffmpeg\n");
  ASSERT_TRUE(veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  EXPECT_EQ(path, "/home/me/ffmpeg");
}

TEST_F(SettingsTool, ListShowsSubkeysThenValues) {
  ASSERT_EQ(Tool({"set-string", "Settings/VexaMediaServer", "FFmpegPath", "/usr/bin/ffmpeg"}).status, 0);
  ASSERT_EQ(Tool({"set-string", "Settings/VexaMediaServer/Profiles", "Default", "xbox"}).status, 0);
  ASSERT_EQ(Tool({"--machine", "set-string", "Settings/VexaMediaServer", "Language", "fr\ttab"}).status, 0);
  ASSERT_EQ(Tool({"--machine", "set-string", "Settings/VexaMediaServer", "FFmpegPath", "/machine"}).status, 0);
  veds::SettingsPtr settings;
  ASSERT_TRUE(veds::OpenSettings(false, true, u"VexaMediaServer", false, settings));
  ASSERT_TRUE(settings->SetDword(u"Port", 9000));
  Result list = Tool({"list", "Settings/VexaMediaServer"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out,
            "key\tProfiles\n"
            "sz\tFFmpegPath\t/usr/bin/ffmpeg\n"
            "sz\tLanguage\tfr\\ttab\n"
            "dword\tPort\t9000\n");
  Result machine = Tool({"--machine", "list", "Settings/VexaMediaServer"});
  EXPECT_EQ(machine.out, "sz\tFFmpegPath\t/machine\nsz\tLanguage\tfr\\ttab\n");
  Result top = Tool({"list", "Settings"});
  EXPECT_EQ(top.out, "key\tVexaMediaServer\n");
  EXPECT_EQ(Tool({"list", "Settings/Nothing"}).status, 1);
}

TEST_F(SettingsTool, DeleteValuesAndKeys) {
  ASSERT_EQ(Tool({"set-string", "Settings/VexaMediaServer", "FFmpegPath", "/usr/bin/ffmpeg"}).status, 0);
  ASSERT_EQ(Tool({"set-string", "Settings/VexaMediaServer", "Other", "x"}).status, 0);
  ASSERT_EQ(Tool({"set-string", "Settings/VexaMediaServer/Sub", "Deep", "y"}).status, 0);
  EXPECT_EQ(Tool({"delete", "Settings/VexaMediaServer", "Other"}).status, 0);
  Result missing = Tool({"delete", "Settings/VexaMediaServer", "Other"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err, "");
  EXPECT_EQ(Tool({"get", "Settings/VexaMediaServer", "Other"}).status, 1);
  EXPECT_EQ(Tool({"get", "Settings/VexaMediaServer", "FFmpegPath"}).status, 0);
  EXPECT_EQ(Tool({"delete", "Settings/VexaMediaServer"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(userRoot_ + "/SOFTWARE/Vexa/Settings/VexaMediaServer"));
  EXPECT_EQ(Tool({"delete", "Settings/VexaMediaServer"}).status, 1);
  std::string path;
  EXPECT_FALSE(veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  // --machine deletes in the machine layer only.
  ASSERT_EQ(Tool({"--machine", "set-string", "Settings/P", "V", "m"}).status, 0);
  ASSERT_EQ(Tool({"set-string", "Settings/P", "V", "u"}).status, 0);
  EXPECT_EQ(Tool({"--machine", "delete", "Settings/P", "V"}).status, 0);
  EXPECT_EQ(Tool({"get", "Settings/P", "V"}).out, "u\n");
}

TEST_F(SettingsTool, TextBeyondAsciiRoundTrips) {
  ASSERT_EQ(Tool({"set-string", "Settings/Caf\xC3\xA9", "N\xC3\xA4me", "Vid\xC3\xA9os \xF0\x9F\x8E\xAC"}).status, 0);
  EXPECT_EQ(Tool({"get", "Settings/CAF\xC3\x89", "N\xC3\x84ME"}).out, "Vid\xC3\xA9os \xF0\x9F\x8E\xAC\n");
  std::string value;
  ASSERT_TRUE(veds::ReadSettingString("Caf\xC3\xA9", "N\xC3\xA4me", value));
  EXPECT_EQ(value, "Vid\xC3\xA9os \xF0\x9F\x8E\xAC");
}

TEST_F(SettingsTool, WrongUsage) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {},
           {"--machine"},
           {"frobnicate", "Settings/P"},
           {"get", "Settings/P"},
           {"set-string", "Settings/P", "Name"},
           {"set-string", "Settings/P", "", "v"},
           {"list"},
           {"list", "Settings/P", "extra"},
           {"delete", "Settings/P", "N", "extra"},
           {"get", "", "N"},
           {"get", "Settings//P", "N"},
           {"get", "/Settings", "N"},
           {"get", "Settings/", "N"},
           {"set-string", "Settings/P", "N", "bad \xFF"},
           {"get", "Settings/P", "N", "--machine"},
       }) {
    Result result = Tool(arguments);
    EXPECT_EQ(result.status, 2) << (arguments.empty() ? "" : arguments[0]);
    EXPECT_NE(result.err, "");
    EXPECT_EQ(result.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(userRoot_));
}
