#include "tools/vexa-transcode/HostObjects.h"

int32_t HostCallback::ForwardRequest(int32_t) {
  return 1;  // no request is handled yet
}
