#include "platform/os/VexaTime.h"

#include "platform/os/VexaMutex.h"

namespace VexaOS {

CVexaTime::CVexaTime()
    : state_(kStopped), origin_(MonotonicMilliseconds()), stopTime_(origin_), offset_(0), stoppedTotal_(0) {}

int32_t CVexaTime::Start() {
  if (state_ == kStopped) {
    stoppedTotal_ += MonotonicMilliseconds() - stopTime_;
    stopTime_ = origin_;
    state_ = kRunning;
  }
  return 0;
}

void CVexaTime::Stop() {
  if (state_ == kRunning) {
    stopTime_ = MonotonicMilliseconds();
    state_ = kStopped;
  }
}

uint64_t CVexaTime::Elapsed() const {
  const uint64_t now = state_ == kRunning ? MonotonicMilliseconds() : stopTime_;
  return now - origin_ - stoppedTotal_ + offset_;
}

}  // namespace VexaOS
