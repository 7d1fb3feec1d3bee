#!/usr/bin/env bash
# Time to the first byte of a stream from vexa-serve, from the start and from a time seek, next
# to what a server that shells out per request would take: `ffmpeg -ss T -i FILE -c copy -f
# mpegts -` started for the request, timed to its first byte on standard output. Several
# alternating runs each in this one invocation; medians and ratios.
# Usage: bench/serve.sh [FILE]   (without FILE the 60 s 1080p file of bench/remux.sh is made)
# Environment: VEXA_BUILD_DIR (default build/default), RUNS (default 9), SEEK (default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build/default}
serve=$build/tools/vexa-serve/vexa-serve
if [ ! -x "$serve" ]; then
  echo "serve.sh: no vexa-serve under $build (build it, or set VEXA_BUILD_DIR)" >&2
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
[ -n "$base" ] || { echo "serve.sh: vexa-serve did not start" >&2; cat "$work/serve.log" >&2; exit 1; }

/usr/bin/python3 - "$base/stream/1/film.mkv" "$file" "${RUNS:-9}" "${SEEK:-30}" <<'PY'
import http.client, statistics, subprocess, sys, time, urllib.parse
url, path, runs, seek = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
ps3 = 'PLAYSTATION 3'
where = urllib.parse.urlsplit(url)

def serve_first_byte(start):
    began = time.monotonic()
    connection = http.client.HTTPConnection(where.hostname, where.port, timeout=30)
    headers = {'User-Agent': ps3}
    if start: headers['TimeSeekRange.dlna.org'] = 'npt=%s-' % start
    connection.request('GET', where.path, headers=headers)
    answer = connection.getresponse()
    assert answer.status == 200 and answer.read(1), answer.status
    took = time.monotonic() - began
    connection.close()
    return took

def ffmpeg_first_byte(start):
    began = time.monotonic()
    child = subprocess.Popen(['ffmpeg', '-v', 'error', '-nostdin'] + (['-ss', start] if start else []) +
                             ['-i', path, '-c', 'copy', '-f', 'mpegts', '-'], stdout=subprocess.PIPE)
    assert child.stdout.read(1)
    took = time.monotonic() - began
    child.kill()
    child.wait()
    return took

print('file: %s, %d runs each (time to first byte, ms: median)' % (path, runs))
for label, start in (('from the start', None), ('time seek to %s s' % seek, seek)):
    ours, theirs = [], []
    for _ in range(runs):
        ours.append(serve_first_byte(start))
        theirs.append(ffmpeg_first_byte(start))
    a, b = statistics.median(ours) * 1000, statistics.median(theirs) * 1000
    print('%-18s vexa-serve %7.1f  ffmpeg per request %7.1f  ratio %.2f' % (label, a, b, a / b))
PY
