#!/usr/bin/env bash
# Time to the first byte of a stream from vexa-serve, from the start and from a time seek, next
# to what a server that shells out per request would take: `ffmpeg -ss T -i FILE -c copy -f
# mpegts -` started for the request, timed to its first byte on standard output. Several
# alternating runs each in this one invocation; medians and ratios.
# Usage: bench/serve.sh [FILE]   (without FILE the 60 s 1080p file of bench/remux.sh is made)
# Environment: VEXA_BUILD_DIR (default build/default), RUNS (default 9), SEEK (default 30).
set -euo pipefail
bench=serve.sh
. "$(dirname "$0")/served-film.sh"

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
