#!/usr/bin/env bash
# Subtitle drawing speed: the median time to draw a typical two-line cue into a bitmap packet
# for a 960x720 frame (vexa-subrender --repeat, render plus packet), and in the same run FFmpeg
# drawing the same two lines with its drawtext filter (FreeType too) on as many 960x720 frames,
# its time without the filter taken off. Both sides are also measured in processor time, which
# a busy machine disturbs less than the wall clock. Prints the per-cue times, their ratios, and
# whether a cue takes under 2 ms. Usage: bench/subtitles.sh [CUES] (default 500)
set -euo pipefail
cd "$(dirname "$0")/.."
cues=${1:-500}
line1="I told you we would be late again,"
line2="and now look at the time!"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

cmake --preset default >/dev/null
cmake --build --preset default --target vexa-subrender >/dev/null
tool=build/default/tools/vexa-subrender/vexa-subrender
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

timing=$("$tool" --text "$line1"$'\n'"$line2" --frame 960x720 --repeat "$cues" "$tmp/cue.png" |
  sed -n 's/^per cue over .*median \([0-9.]*\) us wall, \([0-9.]*\) us cpu.*/\1 \2/p')
read -r ours_wall ours_cpu <<<"$timing"

printf '%s\n%s' "$line1" "$line2" >"$tmp/cue.txt"
# One FFmpeg run over CUES generated frames, single-threaded as the tool is: "wall cpu" seconds.
ffmpeg_seconds() {
  /usr/bin/time -f '%e %U %S' -o "$tmp/time" ffmpeg -v error -threads 1 -filter_threads 1 \
    -f lavfi -i "color=c=black:size=960x720" -frames:v "$cues" "$@" -f null -
  awk '{print $1, $2 + $3}' "$tmp/time"
}
read -r with_wall with_cpu <<<"$(ffmpeg_seconds -vf "drawtext=fontfile=$font:textfile=$tmp/cue.txt:fontsize=32:borderw=4:fontcolor=white:x=(w-tw)/2:y=h-th-40")"
read -r bare_wall bare_cpu <<<"$(ffmpeg_seconds)"
per_frame() { echo "($1 - $2) * 1000000 / $cues" | bc -l; }
ffmpeg_wall=$(per_frame "$with_wall" "$bare_wall")
ffmpeg_cpu=$(per_frame "$with_cpu" "$bare_cpu")

printf 'cues: %d at 960x720 (microseconds per cue: wall clock, processor)\n' "$cues"
printf 'vexa rasteriser, render + packet (median):   %8.1f  %8.1f\n' "$ours_wall" "$ours_cpu"
printf 'ffmpeg drawtext (frames alone taken off):    %8.1f  %8.1f\n' "$ffmpeg_wall" "$ffmpeg_cpu"
printf 'ratio vexa / ffmpeg:                         %8.2f  %8.2f\n' \
  "$(echo "$ours_wall / $ffmpeg_wall" | bc -l)" "$(echo "$ours_cpu / $ffmpeg_cpu" | bc -l)"
under() { [ "$(echo "$1 < 2000" | bc -l)" -eq 1 ] && echo yes || echo no; }
echo "under 2 ms per cue: $(under "$ours_wall") (wall clock), $(under "$ours_cpu") (processor)"
