// Feeds the elementary streams of a fixture through the pipeline and prints the throughput.
// Usage: mux_pipeline_bench DIR NAME SIZE SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/support/MuxFixture.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s DIR NAME SIZE SECONDS\n", argv[0]);
    return 2;
  }
  std::vector<EsStream> streams = MakeFixture(argv[1], argv[2], argv[3], std::atoi(argv[4]));
  if (streams.empty()) {
    std::fprintf(stderr, "cannot make the fixture\n");
    return 1;
  }
  size_t input = 0;
  for (const EsStream& stream : streams)
    for (const EsSample& sample : stream.samples) input += sample.bytes.size();
  auto start = std::chrono::steady_clock::now();
  PipelineRun run = RunPipeline(streams, {0});
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu %zu %.6f\n", input, run.output.size(), seconds);
  return run.output.empty() ? 1 : 0;
}
