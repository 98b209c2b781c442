#!/bin/bash
# A slow uplink, the long form: the engine, then the ffmpeg command line
# (bench/ffmpeg-publisher.sh) in the same conditions: 1280x720@30 at 2500 kbit/s of moving
# noise on an Xvfb screen and a tone, nginx recording, both in a network namespace whose
# loopback is cut to 1000 kbit/s for 60 s, 300 for 30 s and 200 for 40 s, each followed by
# 30 s without a limit. Per phase: the rate and frame rate received, the delay at the
# server; per publisher: the sound kept and the publications (1 + reconnects). As root.
#
#   bench/congestion_bench.sh [BUILD_DIR] [KBPS:SECONDS ...]
set -euo pipefail

source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source/build}" && pwd)
shift || true
cmake --build "$build" --target castorn_congestion_bench >/dev/null
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for publisher in engine ffmpeg; do
  "$build/tests/castorn_congestion_bench" "$publisher" "$source" "$@"
  echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
done
