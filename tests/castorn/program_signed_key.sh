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

for tool in node pulseaudio pactl Xvfb xdotool ffprobe md5sum; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
modules=$build/peers/node_modules
[ -d "$modules/node-media-server" ] || { echo "SKIP: node-media-server is not installed in $build/peers"; exit 77; }

work=$(mktemp -d /tmp/castorn-nms-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

. "$source/tools/test-peers.sh"
port=$(peers_free_port)
mkdir -p "$work/nms"
NODE_PATH=$modules node "$source/tools/nms-server.js" --dir "$work/nms" --port "$port" --secret "$secret" \
  >"$work/nms.log" 2>&1 &
pids+=($!)
peers_start_pulse "$work/pulse"
peers_start_xvfb 1280x720 || fail "Xvfb did not start"
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && peers_listening "$port" && break
  sleep 0.1
done
peers_listening "$port" || fail "node-media-server did not start: $(tail -3 "$work/nms.log")"

expiry=$(( $(date +%s) + 3600 ))
key="sign=$expiry-$(printf '%s' "/live/s-$expiry-$secret" | md5sum | cut -d' ' -f1)"

# On air with KEY for the given seconds in a program of its own; sets `on` and `off`.
on_air() {
  peers_write_settings "$work/run-$1" "rtmp://127.0.0.1:$port" live s "$2"
  peers_start_program "$build/publish_tavisk" "$work/run-$1" || fail "the program's window did not appear"
  on=$(date +%s.%N)
  xdotool key --window "$window" space
  sleep "$3"
  off=$(date +%s.%N)
  xdotool key --window "$window" space
  sleep 1
  kill -0 "$program" 2>/dev/null || fail "the program ended while on air: $(tail -5 "$work/run-$1/program.log")"
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
probe=$(ffprobe -v error -count_packets -show_entries \
  stream=codec_name,width,height,sample_rate,channels,nb_read_packets:format=duration -of flat "$recording")
awk -F= -v on="$on" -v off="$off" '
  { gsub(/"/, "", $2); value[$1] = $2 }
  END {
    for (i = 0; value["streams.stream." i ".codec_name"] != ""; i++) {
      codec = value["streams.stream." i ".codec_name"]
      if (codec == "h264") video = i
      if (codec == "aac") audio = i
    }
    if (video == "" || audio == "") { print "no h264 and aac in the recording"; exit 1 }
    duration = value["format.duration"] + 0; onAir = off - on
    v = "streams.stream." video "."; a = "streams.stream." audio "."
    rate = value[v "nb_read_packets"] / duration
    printf "h264 %dx%d %.1f fps, aac %d Hz %d ch, %.2f s of %.2f s on air\n", value[v "width"], \
      value[v "height"], rate, value[a "sample_rate"], value[a "channels"], duration, onAir
    ok = value[v "width"] + 0 == 320 && value[v "height"] + 0 == 240 && rate >= 9 && rate <= 11 &&
         value[a "sample_rate"] + 0 == 44100 && value[a "channels"] + 0 == 2 &&
         duration >= onAir * 0.85 && duration <= onAir * 1.1
    exit ok ? 0 : 1
  }' <<<"$probe" || fail "the recording is not what was asked for"
echo "PASS"
