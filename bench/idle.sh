#!/usr/bin/env bash
# A loaded plug-in at rest: after one offer and no job, how many threads the host process has,
# how often they woke in SECONDS (default 5), and its resident size, beside the same host
# process before it loaded the plug-in (the reference) and the targets.
# Usage: bench/idle.sh [FILE]   (without FILE, the sample of tests/data)
# Environment: VEXA_BUILD_DIR (default build/default), SECONDS_AT_REST (default 5).
set -euo pipefail
bench=idle.sh
. "$(dirname "$0")/bench-setup.sh"
hostbench=$build/tools/vexa-hostbench/vexa-hostbench
require "$hostbench"
file=${1:-$root/tests/data/sample.mkv}
seconds=${SECONDS_AT_REST:-5}

out=$("$hostbench" idle "$file" "$seconds")
value() { awk -v key="$1" '$1 == key { print $2 }' <<<"$out"; }
echo "file: $file, $seconds s at rest, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf "threads:            %5d   (host alone %d)\n" "$(value idle_threads)" "$(value bare_host_threads)"
printf "context switches:   %5d   in %d s (target 0)\n" "$(value idle_switches)" "$seconds"
printf "resident size:      %5d KiB (host alone %d KiB; the plug-in holds %d KiB, target about 4.3 MiB for the process)\n" \
  "$(value idle_rss)" "$(value bare_host_rss)" "$(( $(value idle_rss) - $(value bare_host_rss) ))"
