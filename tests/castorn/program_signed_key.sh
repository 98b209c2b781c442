#!/bin/bash
# End to end: the real program, with set.ini holding a node-media-server publish key
# ("sign=EXPIRY-MD5"), goes on air for five seconds to node-media-server with publish
# authentication; the server takes the publish and records H.264 and AAC at the
# settings' size and rate. A wrong key in the same place is refused.
#
#   program_signed_key.sh BUILD_DIR SOURCE_DIR
#
# Exits 77 (a skip for ctest) only when a tool it needs is not installed.
set -uo pipefail

build=$(cd "${1:?build folder}" && pwd)
source=$(cd "${2:?source folder}" && pwd)
seconds=5
secret=program-test-secret

. "$source/tools/test-peers.sh"
peers_need node pulseaudio pactl Xvfb xdotool ffprobe md5sum
modules=$build/peers/node_modules
[ -d "$modules/node-media-server" ] || { echo "SKIP: node-media-server is not installed in $build/peers"; exit 77; }

work=$(mktemp -d /tmp/castorn-nms-XXXXXX)
pids=()
trap 'peers_stop_all; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

port=$(peers_free_port)
mkdir -p "$work/nms"
NODE_PATH=$modules node "$source/tools/nms-server.js" --dir "$work/nms" --port "$port" --secret "$secret" \
  >"$work/nms.log" 2>&1 &
pids+=($!)
peers_start_pulse "$work/pulse"
peers_start_xvfb 1280x720 || fail "Xvfb did not start"
peers_await "$port" || fail "pulseaudio or node-media-server did not start: $(tail -3 "$work/nms.log")"

expiry=$(( $(date +%s) + 3600 ))
key="sign=$expiry-$(printf '%s' "/live/s-$expiry-$secret" | md5sum | cut -d' ' -f1)"

# On air with KEY for the given seconds in a program of its own; sets `on` and `off`.
on_air() {
  peers_write_settings "$work/run-$1" "rtmp://127.0.0.1:$port" live s "$2"
  peers_start_program "$build/publish_tavisk" "$work/run-$1" || fail "the program's window did not appear"
  peers_on_air "$3" || fail "the program ended while on air: $(tail -5 "$work/run-$1/program.log")"
  kill -TERM "$program"
  wait "$program"
}

on_air wrong "sign=$expiry-00000000000000000000000000000000" 3
grep -q "prePublish /live/s" "$work/nms/publish.log" || fail "the server was not asked to publish"
grep -q "postPublish" "$work/nms/publish.log" && fail "a wrong key was taken"

on_air right "$key" "$seconds"
grep -q "postPublish /live/s {\"sign\":\"$expiry-" "$work/nms/publish.log" || fail "the signed key was not taken"
recording=$(ls "$work"/nms/record/live/s/*.flv 2>/dev/null | head -1)
[ -n "$recording" ] && [ -s "$recording" ] || fail "the server recorded nothing"
peers_check_recording "$recording" "$on" "$off" 320 240 10 || fail "the recording is not what was asked for"
echo "PASS"
