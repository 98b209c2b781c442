#!/bin/bash
# The window closed while on air, as the operator closes it: the time from the "确定" that
# answers the close question (asked on Escape, which the close button is without a window
# manager) to the window gone from the screen and to the program's end, with a live and a
# hung (SIGSTOP) nginx, under Xvfb.
#
#   bench/window_close.sh [BUILD_DIR] [RUNS]     (defaults: build, 5)
#
# Needs: nginx libnginx-mod-rtmp pulseaudio pulseaudio-utils xvfb xdotool.
set -euo pipefail

source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source/build}" && pwd)
runs=${2:-5}
work=$(mktemp -d /tmp/castorn-close-XXXXXX)
pids=()
. "$source/tools/test-peers.sh"
peers_need nginx pulseaudio pactl Xvfb xdotool
trap 'peers_stop_all; rm -rf "$work"' EXIT

peers_start_bench "$source" "$work"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
hang_nginx() { kill "-$1" "$nginx" $(cat /proc/"$nginx"/task/*/children) 2>/dev/null || true; }

# One run: on air for three seconds, then closed; prints "gone_ms ended_ms".
close_run() {  # live|hung
  rm -rf "$work/run"
  peers_write_settings "$work/run" "rtmp://127.0.0.1:$port" live s qex 320 240 10 160
  peers_start_program "$build/publish_tavisk" "$work/run"
  xdotool key --window "$window" space
  sleep 3
  [ "$1" = hung ] && hang_nginx STOP
  local start gone ended question
  xdotool key --window "$window" Escape
  question=$(timeout 10 xdotool search --sync --onlyvisible --name '^publish_tavisk$' 2>/dev/null | grep -vx "$window" | head -1)
  [ -n "$question" ] || { echo "no close question" >&2; return 1; }
  # Two buttons, "取消" focused: Tab reaches "确定", whichever side it is on.
  xdotool key --window "$question" Tab
  start=$(now_ms)
  xdotool key --window "$question" space
  while xdotool search --onlyvisible --name '^publish_tavisk$' >/dev/null 2>&1; do sleep 0.01; done
  gone=$(now_ms)
  while kill -0 "$program" 2>/dev/null; do sleep 0.01; done
  ended=$(now_ms)
  wait "$program" 2>/dev/null || true
  [ "$1" = hung ] && hang_nginx CONT
  echo "$((gone - start)) $((ended - start))"
}

echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| server | close to window gone, ms | close to program ended, ms |"
echo "|---|---|---|"
for server in live hung; do
  gone=() ended=()
  for _ in $(seq "$runs"); do
    read -r g e < <(close_run "$server")
    gone+=("$g") ended+=("$e")
  done
  echo "| $server | $(median_spread "${gone[@]}") | $(median_spread "${ended[@]}") |"
done
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
