#!/bin/bash
# Picture-to-sound sync and latency of the publishing engine and of the ffmpeg command
# line, side by side from one source in one run: a player shows a full-screen white flash
# on the Xvfb screen and plays a 1 kHz beep into the test microphone at the same instants,
# every 2.5 s. From each of the server's recordings: audio - video per flash, its mean,
# spread and drift (least squares, ms per minute). Viewers of the server give the time
# from a flash on the screen to the decoded frame.
#
#   bench/av_sync_bench.sh [--hog] BUILD_DIR SECONDS WIDTH HEIGHT FPS KBITS
#
# AV_SYNC_EVENTS=1 prints every event; AV_SYNC_KEEP=1 keeps the work folder.
#
# --hog keeps both cores busy with two spinning processes the whole time. The engine runs
# as the program runs it: device lists, the player list, background audio switched on and
# off four times while on air.
#
# A screen capture samples the flash on average half a frame after it appeared: a perfect
# publisher measures -half a frame (-17 ms at 30 fps, -50 ms at 10 fps); the corrected
# offset is printed too.
set -euo pipefail

hog=0
if [ "${1:-}" = --hog ]; then hog=1; shift; fi
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2 width=$3 height=$4 fps=$5 kbits=$6
work=$(mktemp -d /tmp/castorn-avsync-XXXXXX)
pids=() probes=()
cleanup() {
  for pid in "${pids[@]}" "${probes[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${AV_SYNC_KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

c++ -std=c++20 -O2 -I"$source" "$source/bench/engine_bench.cpp" -o "$work/engine_bench" -ldl
c++ -std=c++20 -O2 "$source/bench/av_sync_analyse.cpp" -o "$work/analyse"
. "$source/tools/test-peers.sh"
. "$source/bench/ffmpeg-publisher.sh"

# The source: black with three white frames, and a 1 kHz beep of 100 ms, every 2.5 s.
period=2.5
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "color=c=black:s=160x90:r=30" \
  -f lavfi -i "aevalsrc=0.5*sin(2*PI*1000*t)*lt(mod(t\\,$period)\\,0.1):s=44100" \
  -vf "drawbox=c=white:t=fill:enable='lt(mod(n\\,75)\\,3)'" -t $((seconds + 60)) \
  -c:v libx264 -preset ultrafast -g 75 -c:a flac "$work/flash.mkv"

peers_start_bench "$source" "$work"
server=rtmp://127.0.0.1:$port

gst-launch-1.0 -q filesrc location="$work/flash.mkv" ! matroskademux name=demux \
  demux.video_0 ! queue ! avdec_h264 ! videoconvert ! videoscale ! video/x-raw,width=1280,height=720 ! ximagesink \
  demux.audio_0 ! queue ! flacparse ! flacdec ! audioconvert ! audioresample ! pulsesink device=mic_sink >/dev/null 2>&1 &
pids+=($!)
sleep 2

if [ $hog = 1 ]; then
  for _ in 1 2; do yes >/dev/null & pids+=($!); done
fi

# luma_log OUT FFMPEG_INPUT_ARGS...: logs the mean luma of each frame with its timestamp
# (the wall clock for the screen grab and for the viewers) as it goes, to OUT.log.
luma_log() {
  local out=$1
  shift
  exec ffmpeg -nostdin -hide_banner -loglevel info "$@" -copyts -an \
    -vf "scale=32:18,signalstats,metadata=print:key=lavfi.signalstats.YAVG" -f null - 2>"$out.log" >/dev/null
}
wall_csv() {  # TIMEBASE_DIVISOR LOG: "seconds,luma"
  awk -v d="$1" '{ for (i = 1; i <= NF; ++i) {
                     if ($i ~ /^pts:/) { split($i, p, ":"); t = p[2] / d }
                     if ($i ~ /YAVG=/) { split($i, y, "="); printf "%.6f,%s\n", t, y[2] } } }' "$2"
}

# A corner of the screen, 100 times a second, and a low-delay viewer of each stream.
luma_log "$work/screen" -f x11grab -framerate 100 -video_size 16x16 -i "$DISPLAY+0,0" &
probes+=($!)
# A viewer that joins before the stream is published may never get its headers: it joins
# once the server records the stream.
viewer() {
  (while ! ls "$work/nginx/rec/$1"*.flv >/dev/null 2>&1; do sleep 0.05; done
   luma_log "$work/viewer-$1" -use_wallclock_as_timestamps 1 -fflags nobuffer -flags low_delay -threads 1 \
     -i "$server/live/$1") &
  probes+=($!)
}
viewer engine
viewer ffmpeg

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$work/engine_bench" publish "$build/libcastorn.so" "$server" "$seconds" "$width" "$height" "$fps" "$kbits" - \
  Screen FakeMicSink >/dev/null &
engine=$!
ffmpeg_publish "$width" "$height" "$fps" "$kbits" $((seconds + 1)) "$server/live/ffmpeg" &
ffmpeg=$!
wait "$engine" "$ffmpeg"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
sleep 2
kill -TERM "${probes[@]}" 2>/dev/null || true

half_frame=$(awk -v f="$fps" 'BEGIN { printf "%.1f", 500 / f }')
echo "# ${width}×${height}@${fps}, ${kbits}k, ${seconds} s on air, $([ $hog = 1 ] && echo "two CPU hogs, ")$(date -u '+%F %H:%M UTC'), load average $load_before before, $load_after after"
echo "# a perfect publisher measures -$half_frame ms (half a frame); corrected = mean + $half_frame ms"
wall_csv 1000000 "$work/screen.log" >"$work/screen.csv"
for name in engine ffmpeg; do
  recording=$(ls -S "$work/nginx/rec/$name"*.flv | head -1)
  ffprobe -v error -f lavfi "movie=$recording,scale=32:18,signalstats" -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG \
    -of csv=p=0 >"$work/$name-video.csv"
  start=$(ffprobe -v error -select_streams a -show_entries stream=start_time -of csv=p=0 "$recording")
  ffmpeg -nostdin -v fatal -i "$recording" -vn -ac 1 -f s16le "$work/$name-audio.raw"
  echo "## $name ($(ls "$work/nginx/rec/$name"*.flv | wc -l) recording(s); the longest)"
  result=$("$work/analyse" sync "$work/$name-video.csv" "$work/$name-audio.raw" "$start" 44100 || true)
  if [ -n "${AV_SYNC_EVENTS:-}" ]; then echo "$result"; else grep -v '^event' <<<"$result" || true; fi
  awk -v h="$half_frame" '$1 == "mean" { printf "corrected %+.1f ms\n", $2 + h }' <<<"$result"
  wall_csv 1000 "$work/viewer-$name.log" >"$work/viewer-$name.csv"
  "$work/analyse" latency "$work/screen.csv" "$work/viewer-$name.csv" || true
done
