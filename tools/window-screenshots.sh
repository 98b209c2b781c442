#!/bin/bash
# Screenshots of the program's window under Xvfb, one a state of the stream: idle, live
# (a tone in the microphone), the microphone lost while live, reconnecting (the server
# gone), refused (nothing listens), a host name that does not resolve, a publish the
# server refuses, an untrusted certificate, a server that never answers, the meter
# hidden by set.ini, a frame rate the engine refuses, the question before closing while
# on air, and the settings dialog's hints. Needs what the end-to-end tests need, plus
# xdotool, openssl and ImageMagick.
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
pulse=${pids[-1]}
peers_start_xvfb 800x600 || fail "Xvfb did not start"
peers_await "$port" || fail "the peers did not come up"
gst-launch-1.0 -q audiotestsrc volume=0.5 is-live=true ! pulsesink device=mic_sink >/dev/null 2>&1 &
pids+=($!)

# Listens and never speaks: the engine's attempt runs into its time limit.
silent=$(peers_free_port)
python3 -c "import socket,time; s=socket.socket(); s.bind(('127.0.0.1',$silent)); s.listen(); c=s.accept(); time.sleep(600)" &
pids+=($!)
# TLS with a certificate nobody vouches for.
tls=$(peers_free_port)
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout "$work/key.pem" \
  -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl made no certificate"
openssl s_server -quiet -accept "$tls" -cert "$work/cert.pem" -key "$work/key.pem" >/dev/null 2>&1 &
pids+=($!)

shot() { import -window "$window" "$out/$1.png" && echo "$out/$1.png"; }
press() { xdotool key --window "$window" space; }  # the focus sits on the button to press

# scenario NAME SERVER APPLICATION [SET.INI LINE]: the program started afresh with that
# publish address, taken on air, and left for `wait` seconds before the shot.
scenario() {
  local dir=$work/$1
  peers_write_settings "$dir" "$2" "$3" s qex
  [ -n "${4:-}" ] && printf '%s\n' "$4" >>"$dir/set.ini"
  peers_start_program "$build/publish_tavisk" "$dir" || fail "$1: no window"
  press
  sleep "$wait"
  shot "$1"
}
# Off air first, so that the engine tidies the sound server up.
stop_program() {
  press
  sleep 1
  kill -TERM "$program"
  wait "$program" 2>/dev/null
}

peers_write_settings "$work/idle" "rtmp://127.0.0.1:$port" live s qex
peers_start_program "$build/publish_tavisk" "$work/idle" || fail "idle: no window"
shot idle
kill -TERM "$program"

wait=5
scenario live "rtmp://127.0.0.1:$port" live
kill -TERM "$pulse"
sleep 3
shot microphone-lost
kill -TERM "$nginx"
sleep 3
shot reconnecting
stop_program

wait=3
scenario refused "rtmp://127.0.0.1:$(peers_free_port)" live
stop_program
scenario unresolved "rtmp://no-such-host.invalid" live
stop_program
scenario tls-untrusted "rtmps://127.0.0.1:$tls" live
stop_program
wait=9
scenario timeout "rtmp://127.0.0.1:$silent" live
stop_program

# The server refusing the publish, and the meter hidden, need a server and a sound server.
peers_start_rtmp "$source" "$work/nginx2" "$port"
peers_start_pulse "$work/pulse2"
peers_await "$port" || fail "the peers did not come back"
wait=4
scenario rejected "rtmp://127.0.0.1:$port" no-such-application
stop_program
scenario meter-hidden "rtmp://127.0.0.1:$port" live m_bShowSpectrum=False
stop_program

wait=2
dir=$work/refused-parameter
peers_write_settings "$dir" "rtmp://127.0.0.1:$port" live s qex 320 240 -5
peers_start_program "$build/publish_tavisk" "$dir" || fail "refused-parameter: no window"
press
sleep "$wait"
shot refused-parameter
stop_program

# Escape while live: the question is a window of its own, so the whole screen is taken.
scenario live-again "rtmp://127.0.0.1:$port" live
xdotool key --window "$window" Escape
sleep 1
import -window root "$out/close-question.png" && echo "$out/close-question.png"
xdotool key Escape  # 取消
sleep 1
stop_program

# The dialog opened on what a newcomer saved: an address without a stream name, a
# negative frame rate and a key-frame interval of letters (saved as 0).
dir=$work/settings-hints
peers_write_settings "$dir" "rtmp://127.0.0.1:$port" live "127.0.0.1:$port/live" qex 320 240 -5
sed -i 's/^m_iVdInterval=.*/m_iVdInterval=0/' "$dir/set.ini"
peers_start_program "$build/publish_tavisk" "$dir" || fail "settings-hints: no window"
xdotool key --window "$window" Tab space  # from "上麦" to "详细设置"
dialog=$(timeout 10 xdotool search --sync --name '^Dialog$' 2>/dev/null | head -1)
[ -n "$dialog" ] || fail "settings-hints: no dialog"
sleep 1
import -window "$dialog" "$out/settings-hints.png" && echo "$out/settings-hints.png"
kill -TERM "$program"
wait "$program" 2>/dev/null

mkdir -p "$work/recordings"
wait=5
scenario recording "rtmp://127.0.0.1:$port" live $'[record]\nm_bRecord=True\nm_strRecordDir='"$work/recordings"
stop_program
wait=3
scenario record-cannot-write "rtmp://127.0.0.1:$port" live $'[record]\nm_bRecord=True\nm_strRecordDir=/nonexistent/videos'
stop_program

# The settings dialog, from the button after going on air in the tab order.
peers_write_settings "$work/settings" "rtmp://127.0.0.1:$port" live s qex
printf '[record]\nm_bRecord=False\nm_strRecordDir=%s\n' "$work/recordings" >>"$work/settings/set.ini"
peers_start_program "$build/publish_tavisk" "$work/settings" || fail "settings: no window"
xdotool key --window "$window" Tab space
dialog=$(timeout 10 xdotool search --sync --name '^Dialog$' 2>/dev/null | head -1)
[ -n "$dialog" ] || fail "settings: no dialog"
sleep 1
import -window "$dialog" "$out/settings-record-folder.png" && echo "$out/settings-record-folder.png"
xdotool key --window "$dialog" Escape
kill -TERM "$program"
