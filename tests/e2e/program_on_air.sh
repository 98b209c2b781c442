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

for tool in nginx pulseaudio pactl Xvfb xdotool ffprobe; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -f /usr/lib/nginx/modules/ngx_rtmp_module.so ] || { echo "SKIP: libnginx-mod-rtmp is not installed"; exit 77; }

work=$(mktemp -d /tmp/castorn-e2e-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null; kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

. "$source/tools/test-peers.sh"
port=$(peers_free_port)
peers_start_rtmp "$source" "$work/nginx" "$port"

peers_start_pulse "$work/pulse"
peers_start_xvfb 1280x720 || fail "Xvfb did not start"

peers_await "$port" || fail "pulseaudio or nginx did not start"

mkdir -p "$work/run"
cat >"$work/run/set.ini" <<INI
[Start]
first=True
[svr]
m_strScheduleSvr=rtmp://127.0.0.1:$port
m_strPublishRoomInfo=live
m_strPublishStageInfo=s
m_strUserID=10000
m_strKey=qex
[video]
m_iVdFps=$fps
m_iVdBitRate=$kbits
m_iVdWidth=$width
m_iVdHeight=$height
m_iVdQuality=80
m_iVdInterval=30
m_iBFrame=0
m_iQuality=0
[audio]
m_iAdSampleRate=44100
m_iAdBitRate=32
m_iAdChannels=2
m_iAdBitPerSample=16
m_iAdVolum=80
m_bAdMute=False
m_bShowSpectrum=True
INI

(cd "$work/run" && exec "$build/publish_tavisk") >"$work/program.log" 2>&1 &
program=$!
pids+=($program)
window=$(timeout 20 xdotool search --sync --name '^publish_tavisk$' | head -1)
[ -n "$window" ] || fail "the program's window did not appear"
xdotool windowfocus --sync "$window"
sleep 1  # the window takes its first focus ("上麦") after it is shown

now() { date +%s.%N; }
on=$(now)
xdotool key --window "$window" space
sleep "$seconds"
off=$(now)
xdotool key --window "$window" space
sleep 2
kill -0 "$program" 2>/dev/null || fail "the program ended while on air: $(tail -5 "$work/program.log")"

recording=$(ls "$work"/nginx/rec/*.flv 2>/dev/null | head -1)
[ -n "$recording" ] && [ -s "$recording" ] || fail "the server recorded nothing"
peers_check_recording "$recording" "$on" "$off" "$width" "$height" "$fps" || fail "the recording is not what was asked for"
echo "PASS"
