// What the ASF job's tests share: the encoder setting, a fake owner, stand-in encoders.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "jobs/TranscodeJobASF.h"
#include "tests/support/FakeJob.h"
#include "platform/settings/VexaSettings.h"
#include "tests/support/ProcessTestTools.h"

namespace AsfTestTools {

// The media server's encoder setting, in settings layers of the test's own.
class EncoderSetting {
 public:
  EncoderSetting() {
    std::string root = ProcessTestTools::MakeTempDir("settings");
    ::setenv("VEXA_SETTINGS_USER_ROOT", (root + "/user").c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", (root + "/machine").c_str(), 1);
  }
  ~EncoderSetting() {
    ::unsetenv("VEXA_SETTINGS_USER_ROOT");
    ::unsetenv("VEXA_SETTINGS_MACHINE_ROOT");
  }
  void Set(const std::string& path) {
    veds::SettingsPtr settings;
    ASSERT_TRUE(veds::OpenSettings(false, true, u"VexaMediaServer", false, settings));
    ASSERT_TRUE(settings->SetString(u"FFmpegPath", path.c_str()));
  }
};

class FakeOwner : public NS::ITranscoderJobCallbacks {
 public:
  void OnJobReleased(NS::ITranscoderJob*) override {}
  int32_t ForwardRequest(NS::ITranscoderJob*, int32_t code) override {
    requests += code == CTranscodeJobASF::kRequestEncoderMissing;
    if (onRequest) onRequest();
    return answer;
  }
  int requests = 0;  // for the encoder
  int32_t answer = 1;
  std::function<void()> onRequest;
};

// A stand-in's banner: the source it reads (argument 4) and a duration line.
inline std::string Banner(const std::string& duration) {
  return "printf 'Input #0, matroska,webm, from '\\''%s'\\'':\\n' \"$4\" >&2\n"
         "printf '  Duration: " + duration + ", start: 0.000000, bitrate: 64 kb/s\\n' >&2\n";
}

// A stand-in encoder in dir that notes its process id in dir/pid, then runs body.
inline std::string StandIn(const std::string& dir, const std::string& body) {
  return ProcessTestTools::WriteScript(dir, "encoder", "echo $$ > \"${0%/*}/pid\"\n" + body);
}

}  // namespace AsfTestTools
