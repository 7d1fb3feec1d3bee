# Sourced by the vexa-serve benchmarks: starts vexa-serve on loopback over a folder holding one
# film (the script's first argument, or the 60 s 1080p file of remux.sh) and sets
#   root build work file serve_pid base
# The caller names itself in `bench` for its messages; everything goes when it exits.
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build/default}
serve=$build/tools/vexa-serve/vexa-serve
if [ ! -x "$serve" ]; then
  echo "$bench: no vexa-serve under $build (build it, or set VEXA_BUILD_DIR)" >&2
  exit 1
fi
work=$(mktemp -d)
serve_pid=
cleanup() { [ -z "$serve_pid" ] || kill "$serve_pid" 2>/dev/null || true; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export VEXA_L1LOG_DIR=$work VEXA_SETTINGS_USER_ROOT=$work/user VEXA_SETTINGS_MACHINE_ROOT=$work/machine

file=${1:-}
if [ -z "$file" ]; then
  file=$build/bench/remux/bench1080_60s.mkv
  [ -f "$file" ] || RUNS=1 "$root/bench/remux.sh" >/dev/null
fi
# The server refuses links that lead out of its root: a hard link, or a copy across devices.
mkdir -p "$work/root"
ln "$(realpath "$file")" "$work/root/film.mkv" 2>/dev/null || cp "$file" "$work/root/film.mkv"

# On loopback only; the port it picked comes from its first log line.
"$serve" --root "$work/root" --interface lo --port 0 2>"$work/serve.log" &
serve_pid=$!
for _ in $(seq 200); do grep -q " at http://" "$work/serve.log" && break; sleep 0.05; done
base=$(grep -o 'http://127.0.0.1:[0-9]*' "$work/serve.log" | head -1)
[ -n "$base" ] || { echo "$bench: vexa-serve did not start" >&2; cat "$work/serve.log" >&2; exit 1; }
