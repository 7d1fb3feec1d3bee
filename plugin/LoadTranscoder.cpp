#include <new>

#include "platform/os/ProcessMemory.h"
#include "plugin/TranscoderImpl.h"

extern "C" __attribute__((visibility("default"))) NS::ITranscoder* LoadTranscoder() {
  // Streams allocate on threads of their own; what they used must go back once they end.
  VexaOS::ShareOneHeapArena();
  auto* transcoder = new (std::nothrow) CTranscoderImpl;
  if (!transcoder) return nullptr;
  transcoder->Initialise();
  return transcoder->TranscoderFace();
}
