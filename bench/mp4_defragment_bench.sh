#!/usr/bin/env bash
# The rewrite of a finished recording into an ordinary MP4: a 10 s recording at the
# stream's defaults (1280x720@30, 2500 kbps, AAC) and a 10-minute one with as many
# samples and bytes (320x240 noise at 2500 kbps, encoded fast), both through mp4mux in
# the recording's fragments. The page cache is warm, as it is just after recording.
#
#   bench/mp4_defragment_bench.sh [BUILD] [RUNS]      (defaults: build, 5 runs)
# WORK_PARENT (default /tmp) holds the files, so the file system can be chosen.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
cmake --build "$build" --target mp4_defragment_bench >/dev/null
work=$(mktemp -d "${WORK_PARENT:-/tmp}/mp4_defragment_bench_XXXXXX")
trap 'rm -rf "$work"' EXIT

record() {  # FILE SECONDS WIDTH HEIGHT PATTERN PRESET
  local frames=$(($2 * 30)) blocks=$(($2 * 44100 / 1024))
  gst-launch-1.0 -q videotestsrc pattern="$5" num-buffers=$frames \
    ! video/x-raw,width="$3",height="$4",framerate=30/1 \
    ! x264enc speed-preset="$6" bitrate=2500 key-int-max=60 bframes=0 ! h264parse \
    ! mp4mux name=mux fragment-duration=500 ! filesink location="$1" \
    audiotestsrc num-buffers=$blocks ! audio/x-raw,rate=44100,channels=2 ! voaacenc ! aacparse ! mux.
}

record "$work/ten-seconds.mp4" 10 1280 720 ball veryfast
record "$work/ten-minutes.mp4" 600 320 240 snow ultrafast
echo "load: $(uptime)"
"$build/tests/mp4_defragment_bench" "$runs" "$work/ten-seconds.mp4" "$work/ten-minutes.mp4"
