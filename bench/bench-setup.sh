# Sourced by every benchmark after it names itself in `bench`: sets `root` and `build`
# (VEXA_BUILD_DIR, else build/default), and a `work` folder removed on exit that keeps the
# framework's trace file and the host's settings out of the caller's tree.
# `require PROGRAM` stops with a message when the build lacks PROGRAM.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VEXA_L1LOG_DIR=$work VEXA_SETTINGS_USER_ROOT=$work/user VEXA_SETTINGS_MACHINE_ROOT=$work/machine
# The film given, else the 60 s 1080p H.264 + AAC film of remux.sh (made once).
film_or_default() {
  local film=${1:-$build/bench/remux/bench1080_60s.mkv}
  [ -f "$film" ] || [ -n "${1:-}" ] || RUNS=1 "$root/bench/remux.sh" >/dev/null
  echo "$film"
}
require() {
  [ -x "$1" ] || { echo "$bench: no $(basename "$1") under $build (build it, or set VEXA_BUILD_DIR)" >&2; exit 1; }
}
