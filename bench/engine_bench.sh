#!/bin/bash
# The publishing engine against the ffmpeg command line, one after the other in pairs:
# CPU time and peak memory of SECONDS on air at 320x240@10 and 1280x720@30 from the
# same screen and microphone to the same local nginx; the time from StartPublish to
# the first media at the server; the slowest interface call with a live, a dead and a
# hung server.
#
#   bench/engine_bench.sh [BUILD_DIR] [SECONDS] [PAIRS]     (defaults: build, 20, 5)
#
# Needs: nginx libnginx-mod-rtmp pulseaudio pulseaudio-utils xvfb ffmpeg
#        gstreamer1.0-tools, a C++ compiler, and BUILD_DIR/libcastorn.so built.
set -euo pipefail

source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source/build}" && pwd)
seconds=${2:-20}
pairs=${3:-5}
work=$(mktemp -d /tmp/castorn-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

driver=$work/engine_bench
c++ -std=c++20 -O2 -I"$source" "$source/bench/engine_bench.cpp" -o "$driver" -ldl

. "$source/tools/test-peers.sh"

peers_start_bench "$source" "$work"
# The same moving picture and tone for both publishers.
peers_play_ball_and_tone

server=rtmp://127.0.0.1:$port
records=$work/nginx/rec

engine_row() {  # width height fps kbits
  rm -f "$records"/*
  "$driver" measure - -- "$driver" publish "$build/libcastorn.so" "$server" "$seconds" "$1" "$2" "$3" "$4" \
    "$records" Screen FakeMicSink
}

ffmpeg_row() {  # width height fps kbits
  rm -f "$records"/*
  "$driver" measure "$records" -- bash -c '. "$1"; shift; ffmpeg_publish "$@"' - \
    "$source/bench/ffmpeg-publisher.sh" "$@" "$seconds" "$server/live/ffmpeg"
}

value() { awk -v key="$1" '$1 == key { print $2 }' <<<"$2" | head -1; }
slowest_call() {  # the slowest call on air, leaving out those of start-up and Release
  awk '$1 == "call" && $2 !~ /^(CreateCastorn|GetVideoDevices|GetAudioDevices|GetPlayerList|Release)$/ {
         if ($3 > max) { max = $3; name = $2 } } END { printf "%.3f ms (%s)", max, name }' <<<"$1"
}

# median_spread VALUES...: "median (min–max)"
median_spread() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.2f (%.2f–%.2f)", m, v[1], v[NR] }'
}

echo "Each row $pairs times, the engine and ffmpeg one after the other; median (least–most)."
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| row | publisher | CPU user+sys, s | CPU ÷ ffmpeg's, same pair | peak RSS, MiB | first media at server, ms |"
echo "|---|---|---|---|---|---|"
for row in "320 240 10 160" "1280 720 30 2500"; do
  set -- $row
  e_cpu=() f_cpu=() ratio=() e_rss=() f_rss=() e_first=() f_first=()
  for _ in $(seq "$pairs"); do
    engine=$(engine_row "$@")
    ffmpeg=$(ffmpeg_row "$@")
    e_cpu+=("$(value cpu "$engine")"); f_cpu+=("$(value cpu "$ffmpeg")")
    ratio+=("$(awk -v e="${e_cpu[-1]}" -v f="${f_cpu[-1]}" 'BEGIN { print e / f }')")
    e_rss+=("$(value peak_rss "$engine")"); f_rss+=("$(value peak_rss "$ffmpeg")")
    e_first+=("$(value first_media "$engine")"); f_first+=("$(value first_media "$ffmpeg")")
    calls_live+=$'\n'$engine
  done
  label="$1×$2@$3, ${4}k, ${seconds} s"
  echo "| $label | castorn | $(median_spread "${e_cpu[@]}") | $(median_spread "${ratio[@]}") | $(median_spread "${e_rss[@]}") | $(median_spread "${e_first[@]}") after StartPublish |"
  echo "| $label | ffmpeg CLI | $(median_spread "${f_cpu[@]}") | | $(median_spread "${f_rss[@]}") | $(median_spread "${f_first[@]}") after its start |"
done
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# The copy on disk: the same stream with and without recording, one after the other.
echo
echo "| row | recording | CPU user+sys, s | CPU ÷ without, same pair | file, MiB |"
echo "|---|---|---|---|---|"
row=(1280 720 30 2500)
plain_cpu=() copy_cpu=() ratio=() sizes=()
for _ in $(seq "$pairs"); do
  plain=$(engine_row "${row[@]}")
  rm -rf "$work/copies"; mkdir -p "$work/copies"
  copy=$(CASTORN_BENCH_RECORD_DIR=$work/copies engine_row "${row[@]}")
  plain_cpu+=("$(value cpu "$plain")"); copy_cpu+=("$(value cpu "$copy")")
  ratio+=("$(awk -v c="${copy_cpu[-1]}" -v p="${plain_cpu[-1]}" 'BEGIN { print c / p }')")
  sizes+=("$(du -m --apparent-size "$work"/copies/*.mp4 | awk '{ s += $1 } END { print s + 0 }')")
done
label="${row[0]}×${row[1]}@${row[2]}, ${row[3]}k, ${seconds} s"
echo "| $label | off | $(median_spread "${plain_cpu[@]}") | | |"
echo "| $label | on | $(median_spread "${copy_cpu[@]}") | $(median_spread "${ratio[@]}") | $(median_spread "${sizes[@]}") |"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "| server | slowest call from going on air to off air | CreateCastorn | GetVideoDevices | GetAudioDevices | GetPlayerList | Release |"
echo "|---|---|---|---|---|---|---|"
slowest_of() { awk -v name="$1" '$2 == name { print $3 }' <<<"$2" | sort -n | tail -1; }
report_calls() {
  local row="| $1 | $(slowest_call "$2") |"
  for call in CreateCastorn GetVideoDevices GetAudioDevices GetPlayerList Release; do
    row+=" $(slowest_of "$call" "$2") ms |"
  done
  echo "$row"
}
report_calls "live (both rows)" "$calls_live"
report_calls "dead (nothing listens)" "$("$driver" publish "$build/libcastorn.so" "rtmp://127.0.0.1:$(peers_free_port)" 5 320 240 10 160 - Screen FakeMicSink)"
kill -STOP "$nginx" $(cat /proc/"$nginx"/task/*/children)
report_calls "hung (nginx stopped)" "$("$driver" publish "$build/libcastorn.so" "$server" 5 320 240 10 160 - Screen FakeMicSink)"
kill -CONT "$nginx" $(cat /proc/"$nginx"/task/*/children)
