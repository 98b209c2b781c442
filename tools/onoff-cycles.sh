#!/bin/bash
# The real program goes on and off air again and again against a local nginx that
# records each publication, 30 ms away through a relay, with a tone in the microphone.
# Fails when nginx logs a connection reset by the program, when the program closes a
# connection before the server's last words reached it (its system would answer them
# with a reset), or when a recording does not end within half a second of going off
# air (its length against the time from its first data at the server, and from the
# click on air, to the click off air).
#
#   tools/onoff-cycles.sh [--cycles N] [--delay-ms N] [--build DIR] [--work DIR]
#
# Default: 50 cycles with the program of ./build. Prints one line per cycle and the
# figures. Exits 77 when a tool it needs is not installed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

cycles=50
delay_ms=30    # each way between the program and nginx, as to a server some way off
build=$root/build
work=
while [ $# -gt 0 ]; do
  case "$1" in
    --cycles) cycles=$2; shift 2 ;;
    --delay-ms) delay_ms=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --work) work=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "onoff-cycles: unknown option $1" >&2; exit 2 ;;
  esac
done
work=${work:-$build/onoff-cycles}
tolerance=0.5  # seconds a recording's end may lie from going off air

. "$root/tools/test-peers.sh"
peers_need nginx pulseaudio pactl Xvfb xdotool ffprobe gst-launch-1.0 ss
pids=()
trap peers_stop_all EXIT
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
server_port=$(peers_free_port)
peers_start_rtmp "$root" "$work/nginx" "$server_port"
port=$(peers_free_port)
"$root/tools/latency-proxy.py" "$port" "$server_port" "$delay_ms" "$work/relay.log" &
pids+=($!)
peers_start_pulse "$work/pulse"
peers_start_xvfb 1024x768 || fail "Xvfb did not start"
peers_await "$server_port" && peers_await "$port" || fail "pulseaudio, nginx or the relay did not start"
gst-launch-1.0 -q audiotestsrc is-live=true volume=0.3 ! pulsesink device=mic_sink >/dev/null 2>&1 &
pids+=($!)
peers_write_settings "$work/run" "rtmp://127.0.0.1:$port" live s qex
peers_start_program "$build/publish_tavisk" "$work/run" || fail "the program's window did not appear"

now() { date +%s.%N; }
connected() { ss -Htn state established "dst 127.0.0.1:$server_port" 2>/dev/null | grep -q .; }
newest_recording() { ls -t "$work"/nginx/rec/*.flv 2>/dev/null | head -1; }

# Goes on air, waits for the first data of a new recording, stays a while, goes off air
# and waits for the connection to close. Prints: on (before the key), data, off (before
# and after the key: a loaded machine may take a while to deliver it), and the file.
cycle() {
  local before on data= off off_sent file= hold
  before=$(newest_recording)
  on=$(now)
  xdotool key --window "$window" space
  for _ in $(seq 500); do
    file=$(newest_recording)
    if [ -n "$file" ] && [ "$file" != "$before" ] && [ -s "$file" ]; then data=$(now); break; fi
    sleep 0.01
  done
  [ -n "$data" ] || fail "cycle $1: nothing reached the server"
  hold=$(( 1500 + RANDOM % 2000 ))
  sleep "$(printf '%d.%03d' $((hold / 1000)) $((hold % 1000)))"
  off=$(now)
  xdotool key --window "$window" space
  off_sent=$(now)
  for _ in $(seq 100); do connected || break; sleep 0.05; done
  connected && fail "cycle $1: still connected 5 s after going off air"
  sleep 0.3  # nginx closes the recording after the connection
  echo "$on $data $off $off_sent $file"
}

echo "cycle  recorded  from-data  from-click  (seconds; end against off air)"
for n in $(seq "$cycles"); do
  read -r on data off off_sent file < <(cycle "$n") || exit 1
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
  # The recording starts between the click and its first data at the server, and must end
  # between the key off air being sent and being delivered, give or take the tolerance.
  verdict=$(awk -v d="$duration" -v on="$on" -v data="$data" -v off="$off" -v sent="$off_sent" -v t="$tolerance" \
    -v n="$n" 'BEGIN {
    late = d - (sent - on); early = (off - data) - d
    printf "%5d  %8.2f  %+9.2f  %+10.2f\n", n, d, d - (off - data), late
    exit (late > t || early > t) ? 1 : 0 }')
  status=$?
  echo "$verdict"
  [ "$status" -eq 0 ] || fail "cycle $n: the recording does not end within $tolerance s of going off air"
done
kill -0 "$program" 2>/dev/null || fail "the program ended"
resets=$(grep -c "reset by peer" "$work/nginx/error.log")
unread=$(grep -c "^unread" "$work/relay.log" 2>/dev/null)
echo "$cycles cycles; connections reset by the program: $resets; closed with the server's data unread: ${unread:-0}"
[ "$resets" -eq 0 ] || fail "nginx saw $resets connection resets: $(grep -m3 'reset by peer' "$work/nginx/error.log")"
[ "${unread:-0}" -eq 0 ] || fail "the program closed $unread connections before reading what the server sent"
echo "PASS"
