#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tools/hostkit/HostObjects.h"

namespace {

constexpr int32_t kRequestEncoderMissing = 2;
constexpr int32_t kAnswerLookAgain = 2;
constexpr int32_t kAnswerNotHandled = 1;

// The first executable "ffmpeg" on the PATH, or an empty string.
std::string FindEncoderOnPath() {
  const char* path = std::getenv("PATH");
  if (!path) return "";
  std::string_view rest = path;
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::filesystem::path candidate = std::filesystem::path(rest.substr(0, colon)) / "ffmpeg";
    std::error_code error;
    auto status = std::filesystem::status(candidate, error);
    bool executable = !error && std::filesystem::is_regular_file(status) &&
                      (status.permissions() & std::filesystem::perms::owner_exec) !=
                          std::filesystem::perms::none;
    if (executable) return std::filesystem::absolute(candidate, error).string();
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return "";
}

}  // namespace

int32_t HostCallback::ForwardRequest(int32_t code) {
  if (code != kRequestEncoderMissing) return kAnswerNotHandled;
  std::string encoder = FindEncoderOnPath();
  if (encoder.empty()) return kAnswerNotHandled;
  veds::SettingsPtr settings;
  if (!veds::OpenSettings(false, true, u"VexaMediaServer", false, settings) ||
      !settings->SetString(u"FFmpegPath", encoder.c_str()))
    return kAnswerNotHandled;
  return kAnswerLookAgain;
}
