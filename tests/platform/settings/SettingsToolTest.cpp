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
  std::string out, err;
};

// Runs the tool; its small outputs go through files, so no pipe can fill while we wait.
Result Tool(std::vector<std::string> arguments, const std::string& scratch) {
  arguments.insert(arguments.begin(), VEXA_SETTINGS_TOOL);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const std::string out = scratch + "/out", err = scratch + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  Result result;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = Slurp(out);
  result.err = Slurp(err);
  return result;
}

}  // namespace

class SettingsTool : public SettingsTest {
 protected:
  Result Run(std::vector<std::string> arguments) { return Tool(std::move(arguments), scratch_.path().string()); }
  TempDir scratch_;
};

TEST_F(SettingsTool, SetGetAndTheMachineLayerBehind) {
  Result set = Run({"set-string", "Settings/Caf\xC3\xA9", "FFmpegPath", "/usr/bin/ffmpeg \xF0\x9F\x8E\xAC"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "");
  std::string path;
  ASSERT_TRUE(veds::ReadSettingString("Caf\xC3\xA9", "FFmpegPath", path));
  EXPECT_EQ(path, "/usr/bin/ffmpeg \xF0\x9F\x8E\xAC");
  EXPECT_EQ(Run({"get", "Settings/CAF\xC3\x89", "ffmpegpath"}).out, path + "\n");
  ASSERT_EQ(Run({"--machine", "set-string", "Settings/P", "V", "machine"}).status, 0);
  EXPECT_EQ(Run({"get", "Settings/P", "V"}).out, "machine\n");
  ASSERT_EQ(Run({"set-string", "Settings/P", "V", "user"}).status, 0);
  EXPECT_EQ(Run({"get", "Settings/P", "V"}).out, "user\n");
  EXPECT_EQ(Run({"--machine", "get", "Settings/P", "V"}).out, "machine\n");
  EXPECT_EQ(Run({"--machine", "delete", "Settings/P", "V"}).status, 0);  // the machine layer's only
  EXPECT_EQ(Run({"get", "Settings/P", "V"}).out, "user\n");
  Result missing = Run({"delete", "Settings/P", "Other"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err, "");
  EXPECT_EQ(Run({"delete", "Settings/P"}).status, 0);
  EXPECT_EQ(Run({"get", "Settings/P", "V"}).status, 1);
  EXPECT_EQ(Run({"delete", "Settings/P"}).status, 1);
}

TEST_F(SettingsTool, ListShowsSubkeysThenValuesOfBothLayers) {
  ASSERT_EQ(Run({"set-string", "Settings/VexaMediaServer", "FFmpegPath", "/usr/bin/ffmpeg"}).status, 0);
  ASSERT_EQ(Run({"set-string", "Settings/VexaMediaServer/Profiles", "Default", "xbox"}).status, 0);
  ASSERT_EQ(Run({"--machine", "set-string", "Settings/VexaMediaServer", "Language", "fr\ttab"}).status, 0);
  ASSERT_EQ(Run({"--machine", "set-string", "Settings/VexaMediaServer", "FFMPEGPATH", "/machine"}).status, 0);
  veds::SettingsPtr settings;
  ASSERT_TRUE(veds::OpenSettings(false, true, u"VexaMediaServer", false, settings));
  ASSERT_TRUE(settings->SetDword(u"Port", 9000));
  Result list = Run({"list", "Settings/VexaMediaServer"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "key\tProfiles\nsz\tFFmpegPath\t/usr/bin/ffmpeg\nsz\tLanguage\tfr\\ttab\ndword\tPort\t9000\n");
  EXPECT_EQ(Run({"--machine", "list", "Settings/VexaMediaServer"}).out, "sz\tFFMPEGPATH\t/machine\nsz\tLanguage\tfr\\ttab\n");
  EXPECT_EQ(Run({"list", "Settings/Nothing"}).status, 1);
}

// One altered byte in the user layer: every command says so and changes nothing, and no reader
// takes the machine layer's value instead.
TEST_F(SettingsTool, ADamagedKeyIsReportedNeverPassedOver) {
  ASSERT_EQ(Run({"--machine", "set-string", "Settings/P", "V", "machine"}).status, 0);
  ASSERT_EQ(Run({"set-string", "Settings/P", "V", "user"}).status, 0);
  const std::string file = ValuesFile(userRoot_, "SOFTWARE/Vexa/Settings/P");
  std::string text = Slurp(file);
  text[text.find("user")] = 'U';
  std::ofstream(file) << text;
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"get", "Settings/P", "V"}, {"list", "Settings/P"}, {"set-string", "Settings/P", "W", "w"},
           {"delete", "Settings/P", "V"}}) {
    Result result = Run(arguments);
    EXPECT_EQ(result.status, 3) << arguments[0];
    EXPECT_NE(result.err.find("damaged"), std::string::npos) << arguments[0];
  }
  EXPECT_EQ(Slurp(file), text);
  std::string value;
  EXPECT_FALSE(veds::ReadSettingString(u"P", u"V", value));
}

TEST_F(SettingsTool, WrongUsage) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {"--machine"}, {"frobnicate", "Settings/P"}, {"get", "Settings/P"}, {"set-string", "Settings/P", "Name"},
           {"set-string", "Settings/P", "", "v"}, {"list"}, {"list", "Settings/P", "extra"},
           {"delete", "Settings/P", "N", "extra"}, {"get", "", "N"}, {"get", "Settings//P", "N"},
           {"get", "/Settings", "N"}, {"get", "Settings/", "N"}, {"set-string", "Settings/P", "N", "bad \xFF"},
           {"get", "Settings/P", "N", "--machine"}}) {
    Result result = Run(arguments);
    EXPECT_EQ(result.status, 2) << (arguments.empty() ? "" : arguments[0]);
    EXPECT_NE(result.err, "");
    EXPECT_EQ(result.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(userRoot_));
}
