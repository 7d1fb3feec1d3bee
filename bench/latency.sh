#!/usr/bin/env bash
# The costs a host feels around a stream, in-process through the host interfaces
# (vexa-hostbench): Start to the first byte Read returns, from 0 and from 30 s; Stop and
# Release of a running stream; a seek on a running stream to the first byte of the new
# position; OfferResources per item over a folder of 100 items, and the process's growth over
# 1,000. Beside each, FFmpeg started per request (`ffmpeg -ss T -i FILE -c copy -f mpegts -`,
# to its first byte), which is what a server without the plug-in pays for the same position,
# and the target.
# Usage: bench/latency.sh [FILE]   (without FILE, the 60 s 1080p file of remux.sh)
# Environment: VEXA_BUILD_DIR (default build/default), RUNS (default 20).
set -euo pipefail
bench=latency.sh
. "$(dirname "$0")/bench-setup.sh"
runs=${RUNS:-20}
hostbench=$build/tools/vexa-hostbench/vexa-hostbench
require "$hostbench"

file=$(film_or_default "${1:-}")
# "name value unit" lines of one measurement.
value() { awk -v key="$2" '$1 == key { print $2 }' <<<"$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }'; }

echo "file: $file ($(stat -c %s "$file") bytes), $runs runs each, load $(cut -d' ' -f1-3 /proc/loadavg)"
cat "$file" >/dev/null
for at in 0 30000; do
  ours=$("$hostbench" start "$file" "$at" "$runs")
  theirs=$("$hostbench" ffmpeg "$file" "$at" "$runs")
  printf "start at %5d ms: median %7.2f ms, worst %7.2f ms | ffmpeg -ss median %7.2f ms, worst %7.2f ms | ratio %s (target at most 20 ms)\n" \
    "$at" "$(value "$ours" start_median)" "$(value "$ours" start_worst)" \
    "$(value "$theirs" ffmpeg_start_median)" "$(value "$theirs" ffmpeg_start_worst)" \
    "$(ratio "$(value "$ours" start_median)" "$(value "$theirs" ffmpeg_start_median)")"
  [ "$at" -eq 0 ] && stops=$ours
done
printf "stop and release of a running stream: median %6.2f ms, worst %6.2f ms (target at most 100 ms)\n" \
  "$(value "$stops" stop_median)" "$(value "$stops" stop_worst)"
ours=$("$hostbench" seek "$file" 30000 "$runs")
theirs=$("$hostbench" ffmpeg "$file" 30000 "$runs")
printf "seek on a running stream: median %7.2f ms, worst %7.2f ms | ffmpeg -ss median %7.2f ms | ratio %s (target at most 50 ms)\n" \
  "$(value "$ours" seek_median)" "$(value "$ours" seek_worst)" "$(value "$theirs" ffmpeg_start_median)" \
  "$(ratio "$(value "$ours" seek_median)" "$(value "$theirs" ffmpeg_start_median)")"

# Items of their own names (hard links of one short clip: the page cache holds one copy).
clip=$work/clip.mkv
ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 \
  -f lavfi -i sine=duration=2 -c:v libx264 -preset ultrafast -c:a aac "$clip"
for count in 100 1000; do
  mkdir -p "$work/items$count"
  for i in $(seq -w 1 "$count"); do ln "$clip" "$work/items$count/item$i.mkv"; done
done
ours=$("$hostbench" offers "$work/items100")
printf "offers, 100 items: median %6.3f ms, worst %7.3f ms (target at most 2 ms)\n" \
  "$(value "$ours" offer_median)" "$(value "$ours" offer_worst)"
ours=$("$hostbench" offers "$work/items1000")
printf "offers, 1000 items: median %6.3f ms; the process grew %d KiB after the first item (target a few MiB)\n" \
  "$(value "$ours" offer_median)" "$(value "$ours" offer_growth)"
