#!/usr/bin/env bash
# Memory of a server that streams: vexa-serve's resident size at rest, while three clients at a
# time each play a few megabytes of a stream from some time at a player's pace (3 MB/s, so that
# every buffer of the pipeline fills as it does for a real client) and hang up, over and over, and
# again once every stream has ended; next to the targets (three streams within 64 MiB, and back
# to within a few MiB of the size before them).
# Usage: bench/streams.sh [FILE]   (without FILE the 60 s 1080p file of bench/remux.sh is made)
# Environment: VEXA_BUILD_DIR (default build/default), SECONDS_CYCLING (default 20).
set -euo pipefail
bench=streams.sh
. "$(dirname "$0")/served-film.sh"
resident() { awk '/^VmRSS/ { print $2 }' "/proc/$serve_pid/status"; }

curl -s -A 'PLAYSTATION 3' "$base/" >/dev/null  # the page offers the item: the plug-in is loaded
at_rest=$(resident)
peak=$at_rest
rounds=0
end=$((SECONDS + ${SECONDS_CYCLING:-20}))
while [ $SECONDS -lt $end ]; do
  clients=()
  for k in 1 2 3; do
    (curl -s --limit-rate 3M -A 'PLAYSTATION 3' -H "TimeSeekRange.dlna.org: npt=$(( (rounds * 7 + k * 13) % 50 ))-" \
       "$base/stream/1/film.mkv" | head -c 3000000 >/dev/null) &
    clients+=($!)
  done
  for _ in 1 2 3 4 5; do
    sleep 0.2
    now=$(resident); [ "$now" -gt "$peak" ] && peak=$now
  done
  wait "${clients[@]}" || true  # each client hangs up early: curl ends on a broken pipe
  rounds=$((rounds + 1))
done
sleep 1
after=$(resident)
echo "vexa-serve, $rounds rounds of three streams, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf "at rest, item offered:      %6d KiB\n" "$at_rest"
printf "peak while streaming:       %6d KiB  (target at most 65536)\n" "$peak"
printf "1 s after the last stream:  %6d KiB  (target within a few MiB of %d)\n" "$after" "$at_rest"
