#!/usr/bin/env bash
# Remultiplexing a Matroska file served over HTTP by a local nginx: vexa-transcode reading the
# http: name through VexaDownloadManager.so and the tree's HTTP engine, next to FFmpeg reading
# the same URL with its own HTTP client (`ffmpeg -i URL -map 0:v -map 0:a -c copy -f mpegts`),
# and vexa-transcode on the local file; several alternating runs, medians and ratios.
# Usage: bench/http.sh [FILE]   (without FILE the 60 s 1080p file of bench/remux.sh is made)
# Environment: VEXA_BUILD_DIR (default build/default), RUNS (default 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build/default}
runs=${RUNS:-5}
transcode=$build/tools/vexa-transcode/vexa-transcode
settings=$build/tools/vexa-settings/vexa-settings
if [ ! -x "$transcode" ] || [ ! -f "$build/lib/VexaDownloadManager.so" ]; then
  echo "http.sh: build the tree first (vexa-transcode and lib/VexaDownloadManager.so under $build)" >&2
  exit 1
fi
work=$(mktemp -d)
nginx_pid=
cleanup() { [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VEXA_L1LOG_DIR=$work VEXA_SETTINGS_USER_ROOT=$work/user VEXA_SETTINGS_MACHINE_ROOT=$work/machine
"$settings" set-string Settings/DesktopService InstallDir "$build/lib" >/dev/null

file=${1:-}
if [ -z "$file" ]; then
  file=$build/bench/remux/bench1080_60s.mkv
  [ -f "$file" ] || RUNS=1 "$root/bench/remux.sh" >/dev/null
fi
mkdir -p "$work/www"
ln -s "$(realpath "$file")" "$work/www/film.mkv"

# nginx on loopback, on the first free port from 18080.
port=18080
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 64; }
http { access_log off; client_body_temp_path $work/b; proxy_temp_path $work/p;
  fastcgi_temp_path $work/f; uwsgi_temp_path $work/u; scgi_temp_path $work/s;
  server { listen 127.0.0.1:$port; root $work/www; disable_symlinks off; } }
CONF
/usr/sbin/nginx -p "$work/" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
url=http://127.0.0.1:$port/film.mkv

measure() {
  /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "http.sh: failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time.txt"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/vexa_http"; : >"$work/ffmpeg_http"; : >"$work/vexa_local"
for _ in $(seq "$runs"); do
  measure "$transcode" --output "$work/a.ts" "$url" >>"$work/vexa_http"
  measure ffmpeg -v error -nostdin -y -i "$url" -map 0:v -map 0:a -c copy -f mpegts "$work/b.ts" >>"$work/ffmpeg_http"
  measure "$transcode" --output "$work/c.ts" "$file" >>"$work/vexa_local"
done
echo "file: $file served as $url, $runs runs each (wall s, CPU s: medians)"
for k in vexa_http ffmpeg_http vexa_local; do
  printf "%-12s wall %6.2f  cpu %6.2f\n" "$k" "$(cut -d' ' -f1 "$work/$k" | median)" "$(cut -d' ' -f2 "$work/$k" | median)"
done
ratio() { awk -v a="$(cut -d' ' -f1 "$work/$1" | median)" -v b="$(cut -d' ' -f1 "$work/$2" | median)" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
echo "wall ratio vexa over http / ffmpeg over http: $(ratio vexa_http ffmpeg_http)"
echo "wall ratio vexa over http / vexa on the local file: $(ratio vexa_http vexa_local)"
