#include "framework/L1Log.h"

#include <mutex>

namespace vmf {
namespace {

struct SharedLog {
  std::mutex lock;
  int references = 0;
};

SharedLog& TheLog() {
  static SharedLog log;
  return log;
}

}  // namespace

bool AcquireL1Log() {
  // The file itself is written through the portable file layer once that is linked.
  return false;
}

void ReleaseL1Log() {
  SharedLog& log = TheLog();
  std::lock_guard<std::mutex> hold(log.lock);
  if (log.references > 0) --log.references;
}

void WriteL1Log(std::u16string_view) {}

}  // namespace vmf
