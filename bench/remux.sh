#!/usr/bin/env bash
# Remultiplexing Matroska into a transport stream: vexa-transcode (the plug-in as a host loads
# it, read 64 KiB at a time as an HTTP server reads) next to `ffmpeg -map 0:v -map 0:a -c copy
# -f mpegts` and to `cat` (the floor a remux cannot beat) on the same file, runs alternating,
# measured in this one invocation. Prints the median wall time, processor time and peak resident
# size of each, the ratios, and the processor time of 16 KiB reads against 1 MiB reads.
# Usage: bench/remux.sh [FILE...]   (without FILE two 60 s 1080p films are made once: H.264
# without B-frames + AAC stereo, and H.264 with B-frames + 5.1 AC-3)
# Environment: VEXA_BUILD_DIR (default build/default), RUNS (default 7).
set -euo pipefail
bench=remux.sh
. "$(dirname "$0")/bench-setup.sh"
runs=${RUNS:-7}
transcode=$build/tools/vexa-transcode/vexa-transcode
require "$transcode"

# make_film NAME AUDIO_AND_VIDEO_OPTIONS...: a 60 s 1080p film at 12 Mbit/s, made once.
make_film() {
  local film=$build/bench/remux/$1
  shift
  mkdir -p "$build/bench/remux"
  if [ ! -f "$film" ]; then
    echo "making $film ..." >&2
    ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 \
      -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 -c:v libx264 -g 50 \
      -b:v 12M -minrate 12M -maxrate 12M -bufsize 12M -x264-params nal-hrd=cbr -pix_fmt yuv420p \
      "$@" "$film.tmp.mkv"
    mv "$film.tmp.mkv" "$film"
  fi
  echo "$film"
}

if [ $# -gt 0 ]; then
  films=("$@")
else
  films=("$(make_film bench1080_60s.mkv -preset ultrafast -c:a aac)"
         "$(make_film bench1080_60s_ac3_bframes.mkv -preset veryfast -bf 3 -c:a ac3 -ac 6 -b:a 448k)")
fi

# One run: prints "wall_s cpu_s peak_KiB" of the child, from its own resource usage (microseconds).
measure() {
  /usr/bin/python3 - "$@" 3>&1 >/dev/null 2>"$work/stderr.txt" <<'PY' || {
import os, subprocess, sys, time
begin = time.monotonic()
child = subprocess.Popen(sys.argv[1:])
_, status, usage = os.wait4(child.pid, 0)
wall = time.monotonic() - begin
os.write(3, b"%.4f %.4f %d\n" % (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss))
sys.exit(os.waitstatus_to_exitcode(status))
PY
    echo "remux.sh: failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_median() { cut -d' ' -f"$2" "$work/$1" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }

bench_film() {
  local file=$1
  cat "$file" >/dev/null  # the first run of each reads a cached file, like the others
  names=(vexa ffmpeg cat vexa16k vexa1m)
  for name in "${names[@]}"; do : >"$work/$name"; done
  for _ in $(seq "$runs"); do
    measure "$transcode" --read-size 65536 --output "$work/vexa.ts" "$file" >>"$work/vexa"
    measure ffmpeg -v error -nostdin -y -i "$file" -map 0:v -map 0:a -c copy -f mpegts "$work/ffmpeg.ts" >>"$work/ffmpeg"
    measure sh -c 'cat "$1" >"$2"' cat "$file" "$work/cat.out" >>"$work/cat"
    measure "$transcode" --read-size 16384 --output "$work/vexa16k.ts" "$file" >>"$work/vexa16k"
    measure "$transcode" --read-size 1048576 --output "$work/vexa1m.ts" "$file" >>"$work/vexa1m"
  done

  echo "file: $file ($(stat -c %s "$file") bytes), $runs runs each, load $(cut -d' ' -f1-3 /proc/loadavg)"
  for name in "${names[@]}"; do
    printf "%-8s median wall %6.3f s  cpu %6.3f s  peak %7d KiB\n" "$name" "$(column_median "$name" 1)" \
      "$(column_median "$name" 2)" "$(cut -d' ' -f3 "$work/$name" | sort -n | tail -1)"
  done
  wall=$(column_median vexa 1)
  echo "wall vexa-transcode (64 KiB reads) / ffmpeg: $(ratio "$wall" "$(column_median ffmpeg 1)")  (target at most 0.50)"
  echo "wall vexa-transcode (64 KiB reads) / cat:    $(ratio "$wall" "$(column_median cat 1)")  (target at most 3)"
  echo "cpu 16 KiB reads / 1 MiB reads:              $(ratio "$(column_median vexa16k 2)" "$(column_median vexa1m 2)")  (target at most 1.10)"
  echo "peak resident size: $(( $(cut -d' ' -f3 "$work/vexa" | sort -n | tail -1) / 1024 )) MiB  (target at most 32)"
}

for film in "${films[@]}"; do bench_film "$film"; done
