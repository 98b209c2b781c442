#!/bin/bash
# Screenshots of the program's window under Xvfb: idle, live (a tone in the
# microphone), reconnecting (the server gone) and failed (going on air again with no
# server). Needs what the end-to-end tests need, plus xdotool and ImageMagick.
#
#   tools/window-screenshots.sh BUILD_DIR OUT_DIR
set -uo pipefail

build=$(realpath "${1:?build folder}")
out=$(realpath -m "${2:?output folder}")
source=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"

work=$(mktemp -d /tmp/tavisk-shots-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

. "$source/tools/test-peers.sh"
port=$(peers_free_port)
peers_start_rtmp "$source" "$work/nginx" "$port"
nginx=${pids[-1]}
peers_start_pulse "$work/pulse"
peers_start_xvfb 800x600 || fail "Xvfb did not start"
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && peers_listening "$port" && break; sleep 0.1; done

gst-launch-1.0 -q audiotestsrc volume=0.5 is-live=true ! pulsesink device=mic_sink >/dev/null 2>&1 &
pids+=($!)

mkdir -p "$work/run"
sed "s|rtmp://127.0.0.1|rtmp://127.0.0.1:$port|" >"$work/run/set.ini" <<INI
[svr]
m_strScheduleSvr=rtmp://127.0.0.1
m_strPublishRoomInfo=live
m_strPublishStageInfo=s
m_strKey=qex
[video]
m_iVdFps=10
m_iVdBitRate=500
m_iVdWidth=640
m_iVdHeight=480
[audio]
m_bShowSpectrum=True
INI
(cd "$work/run" && exec "$build/publish_tavisk") >"$work/program.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --name '^publish_tavisk$' | head -1)
[ -n "$window" ] || fail "the program's window did not appear"
xdotool windowfocus --sync "$window"
sleep 1

shot() { import -window "$window" "$out/$1.png" && echo "$out/$1.png"; }
press() { xdotool key --window "$window" space; }  # the focus sits on the button to press

shot idle
press
sleep 5
shot live
kill -TERM "$nginx"
sleep 4
shot reconnecting
press  # off air
sleep 1
press  # on air again, nothing listens now
sleep 2
shot failed
