// vexa-settings run by the shell, with the commands the README shows.
#include <sys/wait.h>

#include "tests/platform/settings/SettingsFixture.h"

using Arguments = std::vector<std::string>;

struct Result {
  int status;
  std::string out, err;
};

class SettingsTool : public SettingsTest {
 protected:
  // Runs the tool with every argument quoted; its small outputs go through files, so no pipe can
  // fill while we wait.
  Result Run(const Arguments& arguments) {
    const std::string out = (scratch_.path() / "out").string(), err = (scratch_.path() / "err").string();
    std::string command = VEXA_SETTINGS_TOOL;
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return Result{WEXITSTATUS(status), ReadText(out), ReadText(err)};
  }
  TempDir scratch_{"tool"};
};

// The user layer's values before the machine layer's, each listed once, spelled as the user
// layer spells it; the machine layer alone with --machine.
TEST_F(SettingsTool, SetGetListAndDeleteOverTheMachineLayer) {
  Result set = Run({"set-string", "Settings/Caf\xC3\xA9", "FFmpegPath", "/usr/bin/ffmpeg \xF0\x9F\x8E\xAC"});
  ASSERT_TRUE(set.status == 0 && set.out.empty()) << set.err;
  std::string path;
  ASSERT_TRUE(ReadSettingString("Caf\xC3\xA9", "FFmpegPath", path));
  EXPECT_EQ(path, "/usr/bin/ffmpeg \xF0\x9F\x8E\xAC");
  EXPECT_EQ(Run({"get", "Settings/CAF\xC3\x89", "ffmpegpath"}).out, path + "\n");
  for (const Arguments& set : {Arguments{"set-string", "Settings/S", "FFmpegPath", "/usr/bin/ffmpeg"},
                               Arguments{"set-string", "Settings/S/Profiles", "Default", "xbox"},
                               Arguments{"--machine", "set-string", "Settings/S", "Language", "fr\ttab"},
                               Arguments{"--machine", "set-string", "Settings/S", "FFMPEGPATH", "/machine"}})
    ASSERT_EQ(Run(set).status, 0) << set[1];
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, true, u"S", false, settings) && settings->SetDword(u"Port", 9000));
  Result list = Run({"list", "Settings/S"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "key\tProfiles\nsz\tFFmpegPath\t/usr/bin/ffmpeg\nsz\tLanguage\tfr\\ttab\ndword\tPort\t9000\n");
  EXPECT_EQ(Run({"--machine", "list", "Settings/S"}).out, "sz\tFFMPEGPATH\t/machine\nsz\tLanguage\tfr\\ttab\n");
  EXPECT_EQ(Run({"list", "Settings/Nothing"}).status, 1);
  EXPECT_EQ(Run({"get", "Settings/S", "Language"}).out, "fr\ttab\n");  // from the machine layer
  EXPECT_EQ(Run({"--machine", "get", "Settings/S", "FFmpegPath"}).out, "/machine\n");
  EXPECT_EQ(Run({"--machine", "delete", "Settings/S", "FFmpegPath"}).status, 0);  // the machine layer's only
  EXPECT_EQ(Run({"get", "Settings/S", "FFmpegPath"}).out, "/usr/bin/ffmpeg\n");
  Result missing = Run({"delete", "Settings/S", "Other"});
  EXPECT_TRUE(missing.status == 1 && !missing.err.empty());
  EXPECT_EQ(Run({"delete", "Settings/S"}).status, 0);
  EXPECT_EQ(Run({"get", "Settings/S", "FFmpegPath"}).status, 1);
  EXPECT_EQ(Run({"delete", "Settings/S"}).status, 1);
}

// One altered byte in the user layer: every command says so and changes nothing, and no reader
// takes the machine layer's value instead.
TEST_F(SettingsTool, ADamagedKeyIsReportedNeverPassedOver) {
  ASSERT_EQ(Run({"--machine", "set-string", "Settings/P", "V", "machine"}).status, 0);
  ASSERT_EQ(Run({"set-string", "Settings/P", "V", "user"}).status, 0);
  const std::string file = layers_.userRoot + "/SOFTWARE/Vexa/Settings/P/.vexa-values";
  std::string text = ReadText(file);
  text[text.find("user")] = 'U';
  std::ofstream(file) << text;
  for (const Arguments& arguments : {Arguments{"get", "Settings/P", "V"}, Arguments{"list", "Settings/P"},
                                     Arguments{"set-string", "Settings/P", "W", "w"}, Arguments{"delete", "Settings/P", "V"}}) {
    Result result = Run(arguments);
    EXPECT_TRUE(result.status == 3 && result.err.find("damaged") != std::string::npos) << arguments[0] << result.err;
  }
  std::string value;
  EXPECT_TRUE(ReadText(file) == text && !ReadSettingString(u"P", u"V", value));
}

TEST_F(SettingsTool, WrongUsage) {
  for (const Arguments& arguments : std::vector<Arguments>{
           {}, {"--machine"}, {"frobnicate", "Settings/P"}, {"get", "Settings/P"}, {"set-string", "Settings/P", "Name"},
           {"set-string", "Settings/P", "", "v"}, {"list"}, {"list", "Settings/P", "extra"},
           {"delete", "Settings/P", "N", "extra"}, {"get", "", "N"}, {"get", "Settings//P", "N"},
           {"get", "/Settings", "N"}, {"get", "Settings/", "N"}, {"set-string", "Settings/P", "N", "bad \xFF"},
           {"get", "Settings/P", "N", "--machine"}}) {
    Result result = Run(arguments);
    EXPECT_TRUE(result.status == 2 && !result.err.empty() && result.out.empty()) << arguments.size();
  }
  EXPECT_FALSE(std::filesystem::exists(layers_.userRoot));
}
