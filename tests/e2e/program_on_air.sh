#!/bin/bash
# End to end: the real program with the real engine goes on air under Xvfb to a
# local nginx, from a set.ini, for ten seconds; what the server recorded must be
# what the settings asked for, as long as the time on air.
#
#   program_on_air.sh BUILD_DIR SOURCE_DIR [WIDTH HEIGHT FPS KBITS]
#
# Exits 77 (a skip for ctest) only when a tool it needs is not installed.
set -uo pipefail

build=${1:?build folder}
source=${2:?source folder}
width=${3:-320}
height=${4:-240}
fps=${5:-10}
kbits=${6:-160}
seconds=10

. "$source/tools/test-peers.sh"
peers_need nginx pulseaudio pactl Xvfb xdotool ffprobe
work=$(mktemp -d /tmp/castorn-e2e-XXXXXX)
pids=()
trap 'peers_stop_all; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

port=$(peers_free_port)
peers_start_rtmp "$source" "$work/nginx" "$port"
peers_start_pulse "$work/pulse"
peers_start_xvfb 1280x720 || fail "Xvfb did not start"
peers_await "$port" || fail "pulseaudio or nginx did not start"

peers_write_settings "$work/run" "rtmp://127.0.0.1:$port" live s qex "$width" "$height" "$fps" "$kbits"
peers_start_program "$build/publish_tavisk" "$work/run" || fail "the program's window did not appear"
peers_on_air "$seconds" || fail "the program ended while on air: $(tail -5 "$work/run/program.log")"

recording=$(ls "$work"/nginx/rec/*.flv 2>/dev/null | head -1)
[ -n "$recording" ] && [ -s "$recording" ] || fail "the server recorded nothing"
peers_check_recording "$recording" "$on" "$off" "$width" "$height" "$fps" || fail "the recording is not what was asked for"
echo "PASS"
