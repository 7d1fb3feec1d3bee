#include <new>

#include "plugin/TranscoderImpl.h"

extern "C" __attribute__((visibility("default"))) NS::ITranscoder* LoadTranscoder() {
  auto* transcoder = new (std::nothrow) CTranscoderImpl;
  if (!transcoder) return nullptr;
  transcoder->Initialise();
  return transcoder->TranscoderFace();
}
