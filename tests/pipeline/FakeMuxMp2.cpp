#include "tests/pipeline/FakeMuxMp2.h"

#include <cstring>
#include <string>

#include "interfaces/sv_mux_mp2.h"

namespace {
FakeMuxState g_state;
int g_instance;
}  // namespace

SV_MUX_API FakeMuxState* fake_mux_state() { return &g_state; }

SV_MUX_API int32_t mp2mux_defaults(MuxMp2Settings* settings, int32_t preset) {
  g_state.calls.push_back("1:" + std::to_string(preset));
  std::memset(settings, 0xAB, sizeof *settings);
  return 0;
}

SV_MUX_API int32_t mp2mux_check(MuxMp2ResourceFn resources, MuxMp2Settings* settings, int32_t flags,
                                void* reserved) {
  g_state.calls.push_back("6:" + std::to_string(flags) + (reserved ? ":arg" : ""));
  g_state.word60 = settings->pcrOnVideo;
  g_state.printsFound = resources("err_printf") && resources("wrn_printf") && resources("inf_printf");
  g_state.otherNameNull = !resources("err_printf ") && !resources("dbg_printf");
  return g_state.refuseCheck;
}

SV_MUX_API MuxMp2Handle mp2mux_create(MuxMp2ResourceFn, MuxMp2Settings*) {
  g_state.calls.push_back("2");
  return g_state.refuseCreate ? nullptr : reinterpret_cast<MuxMp2Handle>(&g_instance);
}

SV_MUX_API int32_t mp2mux_set_output(MuxMp2Handle, MuxMp2OutputOptions* options, bufstream*) {
  g_state.calls.push_back("11:" + std::to_string(options->pmtPid));
  return g_state.refuseOutput;
}

SV_MUX_API int32_t mp2mux_add_stream(MuxMp2Handle, MuxMp2StreamSettings* stream, bufstream*) {
  g_state.calls.push_back("8:" + std::to_string(stream->streamType) + ":" + std::to_string(stream->streamKind) +
                          ":" + std::to_string(stream->rateHintKbps));
  return g_state.refuseStream;
}

SV_MUX_API int32_t mp2mux_done(MuxMp2Handle, int32_t abort) {
  g_state.calls.push_back("4:" + std::to_string(abort));
  return 0;
}

SV_MUX_API void mp2mux_free(MuxMp2Handle) { g_state.calls.push_back("5"); }
