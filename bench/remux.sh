#!/usr/bin/env bash
# Remultiplexing Matroska into a transport stream: vexa-transcode (the plug-in as a host loads
# it) next to `ffmpeg -map 0:v -map 0:a -c copy -f mpegts` on the same file, several runs each,
# measured in this one invocation. Prints the median wall time and peak resident size of both
# and the median time ratio.
# Usage: bench/remux.sh [FILE]   (without FILE a 60 s 1080p H.264 + AAC file is made once)
# Environment: VEXA_BUILD_DIR (default build/default), RUNS (default 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build/default}
runs=${RUNS:-5}
transcode=$build/tools/vexa-transcode/vexa-transcode
if [ ! -x "$transcode" ]; then
  echo "remux.sh: no vexa-transcode under $build (build it, or set VEXA_BUILD_DIR)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The framework's trace file and the host's settings stay out of the caller's tree.
export VEXA_L1LOG_DIR=$work VEXA_SETTINGS_USER_ROOT=$work/user VEXA_SETTINGS_MACHINE_ROOT=$work/machine

file=${1:-}
if [ -z "$file" ]; then
  mkdir -p "$build/bench/remux"
  file=$build/bench/remux/bench1080_60s.mkv
  if [ ! -f "$file" ]; then
    echo "making $file ..." >&2
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 \
      -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 \
      -c:v libx264 -preset ultrafast -g 50 -b:v 12M -minrate 12M -maxrate 12M -bufsize 12M \
      -x264-params nal-hrd=cbr -pix_fmt yuv420p -c:a aac "$file.tmp.mkv"
    mv "$file.tmp.mkv" "$file"
  fi
fi

# One run: prints "seconds peak_KiB" (peak from getrusage of the child, through GNU time).
measure() {
  local out=$work/time.txt
  /usr/bin/time -f "%e %M" -o "$out" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "remux.sh: failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  cat "$out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/vexa" ; : >"$work/ffmpeg"
for _ in $(seq "$runs"); do
  measure "$transcode" --output "$work/vexa.ts" "$file" >>"$work/vexa"
  measure ffmpeg -v error -nostdin -y -i "$file" -map 0:v -map 0:a -c copy -f mpegts "$work/ffmpeg.ts" >>"$work/ffmpeg"
done

vexa_s=$(cut -d' ' -f1 "$work/vexa" | median)
ffmpeg_s=$(cut -d' ' -f1 "$work/ffmpeg" | median)
vexa_kib=$(cut -d' ' -f2 "$work/vexa" | sort -n | tail -1)
ffmpeg_kib=$(cut -d' ' -f2 "$work/ffmpeg" | sort -n | tail -1)
echo "file: $file ($(stat -c %s "$file") bytes), $runs runs each"
printf "%-16s median %6.2f s  peak %7d KiB  output %d bytes\n" vexa-transcode "$vexa_s" "$vexa_kib" "$(stat -c %s "$work/vexa.ts")"
printf "%-16s median %6.2f s  peak %7d KiB  output %d bytes\n" "ffmpeg -c copy" "$ffmpeg_s" "$ffmpeg_kib" "$(stat -c %s "$work/ffmpeg.ts")"
echo "time ratio (vexa-transcode / ffmpeg): $(awk -v v="$vexa_s" -v f="$ffmpeg_s" 'BEGIN { printf "%.2f", (f > 0) ? v / f : 0 }')"
