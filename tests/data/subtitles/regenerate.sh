#!/usr/bin/env bash
# Remakes the golden subtitle pictures (NAME.pgm) from cues.txt with vexa-subrender, for when
# the font or the rasteriser changes on purpose, and writes each packet drawn as a PNG into
# DIR (default build/subtitle-golden) so a person can look at them before committing.
# Usage: tests/data/subtitles/regenerate.sh [DIR]   (after building the default preset)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
tool=$root/build/default/tools/vexa-subrender/vexa-subrender
out=${1:-$root/build/subtitle-golden}
mkdir -p "$out"
grep -v '^#' "$here/cues.txt" | while IFS='|' read -r name frame text; do
  "$tool" --text "$(printf '%b' "$text")" --frame "$frame" --pgm "$here/$name.pgm" "$out/$name.png" >/dev/null
  echo "$name: $here/$name.pgm, $out/$name.png"
done
