#!/bin/bash
# Where the publishing engine's CPU time goes: SECONDS on air at WIDTH×HEIGHT@FPS from a
# moving Xvfb screen and a tone, sampled by perf (cpu-clock, so it works without hardware
# counters), summed by library and by function. Needs perf (linux-perf) besides the peers
# bench/engine_bench.sh needs.
#
#   bench/engine_profile.sh BUILD_DIR SECONDS WIDTH HEIGHT FPS KBITS
set -euo pipefail

source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2
work=$(mktemp -d /tmp/castorn-profile-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

c++ -std=c++20 -O2 -I"$source" "$source/bench/engine_bench.cpp" -o "$work/engine_bench" -ldl
. "$source/tools/test-peers.sh"
peers_start_bench "$source" "$work"
peers_play_ball_and_tone

perf record -q -e cpu-clock -F 999 -o "$work/perf.data" -- "$work/engine_bench" publish "$build/libcastorn.so" \
  "rtmp://127.0.0.1:$port" "$seconds" "$3" "$4" "$5" "$6" - Screen FakeMicSink >/dev/null 2>&1
echo "## samples"; perf report -i "$work/perf.data" --stdio --sort dso 2>/dev/null | grep "^# Samples\|Event count"
echo "## by thread"
perf report -i "$work/perf.data" --stdio --sort comm 2>/dev/null | grep -v "^#" | grep -v "^$" | head -15
echo "## by library"
perf report -i "$work/perf.data" --stdio --sort dso 2>/dev/null | grep -v '^#' | grep -v '^$' | head -15
echo "## by function"
perf report -i "$work/perf.data" --stdio --sort dso,sym 2>/dev/null | grep -v '^#' | grep -v '^$' | head -30
