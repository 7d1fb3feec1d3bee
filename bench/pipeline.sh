#!/usr/bin/env bash
# Throughput of the transport-stream pipeline (memory connection -> pass-through nodes -> pipe
# buffers -> multiplexer library -> sink -> reader) on 1080p H.264 + AAC, printed next to
# `ffmpeg -c copy -f mpegts` on the same content, both measured in this one run.
# Usage: bench/pipeline.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/pipeline}
seconds=${2:-60}
if [ ! -d "$build" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target mux_pipeline_bench sv_mux_mp2 >/dev/null
dir=$build/bench/pipeline
mkdir -p "$dir"
name=bench1080_${seconds}s

# The fixture (made once): elementary streams and their timing extracted from a 1080p file.
read -r input ours_out ours_s < <("$build/tests/mux/mux_pipeline_bench" "$dir" "$name" 1920x1080 "$seconds")

start=$(date +%s.%N)
ffmpeg -v error -y -i "$dir/$name.mkv" -map 0 -c copy -f mpegts "$dir/$name.ffmpeg.ts"
end=$(date +%s.%N)
ffmpeg_s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
ffmpeg_out=$(stat -c %s "$dir/$name.ffmpeg.ts")

mbps() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.1f", n / 1048576 / s }'; }
echo "content: 1920x1080 H.264 + AAC, ${seconds} s, $((input / 1024)) KiB of elementary streams"
printf "%-34s %10s MB/s in  %10s MB/s out  (%s s)\n" "vexa pipeline + libsv_mux_mp2" \
  "$(mbps "$input" "$ours_s")" "$(mbps "$ours_out" "$ours_s")" "$ours_s"
printf "%-34s %10s MB/s in  %10s MB/s out  (%s s)\n" "ffmpeg -c copy -f mpegts" \
  "$(mbps "$input" "$ffmpeg_s")" "$(mbps "$ffmpeg_out" "$ffmpeg_s")" "$ffmpeg_s"
echo "ratio (vexa / ffmpeg, input MB/s): $(awk -v f="$ffmpeg_s" -v o="$ours_s" 'BEGIN { printf "%.2f", f / o }')"
echo "output size: vexa $ours_out bytes, ffmpeg $ffmpeg_out bytes"
