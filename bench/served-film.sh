# Sourced by the vexa-serve benchmarks: starts vexa-serve on loopback over a folder holding one
# film (the script's first argument, or the 60 s 1080p file of remux.sh) and sets
#   root build work (bench-setup.sh) and file serve_pid base
# The caller names itself in `bench` for its messages; everything goes when it exits.
. "$(dirname "$0")/bench-setup.sh"
serve=$build/tools/vexa-serve/vexa-serve
require "$serve"
serve_pid=
cleanup() { [ -z "$serve_pid" ] || kill "$serve_pid" 2>/dev/null || true; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

file=$(film_or_default "${1:-}")
# The server refuses links that lead out of its root: a hard link, or a copy across devices.
mkdir -p "$work/root"
ln "$(realpath "$file")" "$work/root/film.mkv" 2>/dev/null || cp "$file" "$work/root/film.mkv"

# On loopback only; the port it picked comes from its first log line.
"$serve" --root "$work/root" --interface lo --port 0 2>"$work/serve.log" &
serve_pid=$!
for _ in $(seq 200); do grep -q " at http://" "$work/serve.log" && break; sleep 0.05; done
base=$(grep -o 'http://127.0.0.1:[0-9]*' "$work/serve.log" | head -1)
[ -n "$base" ] || { echo "$bench: vexa-serve did not start" >&2; cat "$work/serve.log" >&2; exit 1; }
