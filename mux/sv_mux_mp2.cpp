// The library's entry points: plain C calls with result codes, nothing thrown across them.
#include "interfaces/sv_mux_mp2.h"

#include "mux/MuxInstance.h"

SV_MUX_API int32_t mp2mux_defaults(MuxMp2Settings* settings, int32_t preset) {
  if (!settings) return 1;
  MuxDefaults(*settings, preset);
  return 0;
}

SV_MUX_API int32_t mp2mux_check(MuxMp2ResourceFn, MuxMp2Settings* settings, int32_t, void*) {
  return settings && MuxSettingsAcceptable(*settings) ? 0 : 1;
}

SV_MUX_API MuxMp2Handle mp2mux_create(MuxMp2ResourceFn resources, MuxMp2Settings* settings) {
  return settings ? MuxCreate(resources, *settings) : nullptr;
}

SV_MUX_API int32_t mp2mux_set_output(MuxMp2Handle mux, MuxMp2OutputOptions* options, bufstream* output) {
  return mux ? MuxSetOutput(*mux, options, output) : 1;
}

SV_MUX_API int32_t mp2mux_add_stream(MuxMp2Handle mux, MuxMp2StreamSettings* stream, bufstream* input) {
  return mux && stream ? MuxAddStream(*mux, *stream, input) : 1;
}

SV_MUX_API int32_t mp2mux_done(MuxMp2Handle mux, int32_t abort) {
  if (!mux) return 1;
  MuxDone(*mux, abort);
  return 0;
}

SV_MUX_API void mp2mux_free(MuxMp2Handle mux) { MuxFree(mux); }
