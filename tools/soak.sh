#!/usr/bin/env bash
# Soak: the real program and engine go on and off air again and again, publishing to a
# local RTMP server that is restarted at random moments, while the engine sends its
# notifications. Fails when the program crashes or hangs (at once), and at the end when
# a cycle left a connection to the server open, when its memory grew by more than 5 %
# between the first and the last 50 cycles, when threads or file descriptors are left
# over after the last cycle, or when it does not end cleanly.
#
#   tools/soak.sh [--cycles N] [--build DIR] [--work DIR] [--seed N]
#
# Default: 200 cycles with the program of ./build, working in BUILD/soak. Needs xvfb,
# xdotool, pulseaudio, gstreamer1.0-tools, nginx and libnginx-mod-rtmp (exits with 77
# when one is missing). Prints its figures and leaves them in WORK/summary.txt, one
# line per cycle in WORK/cycles.csv, and the logs beside.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

cycles=200
build=$root/build
work=
seed=$$
while [ $# -gt 0 ]; do
  case "$1" in
    --cycles) cycles=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --work) work=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "soak: unknown option $1" >&2; exit 2 ;;
  esac
done
RANDOM=$seed

work=${work:-$build/soak}
program=$build/publish_tavisk
dump=$build/publish_tavisk.dmp
window_cycles=$(( cycles >= 200 ? 50 : (cycles + 3) / 4 ))
max_growth_percent=5
response_timeout=10  # seconds the GUI thread may stay away from its event loop
settle_timeout=15    # seconds for threads and descriptors to wind down at the end

# Every process this script starts, ended by its id at exit.
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$root/tools/rtmp-server.sh" stop --dir "$work/rtmp" >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

fail() {
  echo "soak: FAILED: $*" | tee -a "$work/summary.txt" >&2
  exit 1
}

random_between() {  # low high, in milliseconds; prints seconds
  local ms=$(( $1 + RANDOM % ($2 - $1 + 1) ))
  printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

. "$root/tools/test-peers.sh"

start_display() {
  peers_start_xvfb 1024x768 || fail "Xvfb did not start"
}

# A sound server of our own with a fake microphone that hears a tone, so the engine has
# an audio device and its level notifications carry something.
start_sound() {
  peers_start_pulse "$work/pulse"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || fail "the sound server did not start"
  gst-launch-1.0 -q audiotestsrc is-live=true freq=440 volume=0.3 ! pulsesink device=mic_sink \
    >"$work/pulse/tone.log" 2>&1 &
  pids+=($!)
}

server() {  # start|stop
  "$root/tools/rtmp-server.sh" "$1" --port "$port" --dir "$work/rtmp" >>"$work/rtmp.log" 2>&1
}

server_listening() {
  peers_listening "$port"
}

# Stops the server, waits until its port is free, and starts it again.
restart_server() {
  server stop
  for _ in $(seq 50); do server_listening || break; sleep 0.1; done
  sleep "$(random_between 100 3000)"
  server start
}

# The server goes down and comes back at random moments, in the background, until the
# stop file appears; a restart under way is finished first.
start_restarts() {
  (
    while :; do
      sleep "$(random_between 2000 12000)"
      [ ! -e "$work/stop-restarts" ] || break
      echo "$(date +%s.%N) server going down" >>"$work/events.log"
      restart_server
      echo "$(date +%s.%N) server up again" >>"$work/events.log"
    done
  ) &
  restarter=$!
  pids+=("$restarter")
}

stop_restarts() {
  touch "$work/stop-restarts"
  wait "$restarter" || true
  server_listening || server start
}

write_settings() {
  mkdir -p "$work/run"
  cat >"$work/run/set.ini" <<EOF
[Start]
first=True
[svr]
m_strScheduleSvr=rtmp://127.0.0.1:$port
m_strPublishRoomInfo=live
m_strPublishStageInfo=soak
[video]
m_iVdFps=10
m_iVdBitRate=160
m_iVdWidth=320
m_iVdHeight=240
EOF
}

start_program() {
  rm -f "$dump"
  (cd "$work/run" && exec "$program") >"$work/program.log" 2>&1 &
  app=$!
  pids+=("$app")
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^publish_tavisk$' 2>/dev/null | head -1)
  [ -n "$window" ] || fail "the program's window did not appear"
  wait_idle >/dev/null || fail "the program did not finish starting"
}

# The shell may reap the program while its state is read: no state is not alive.
alive() {
  local state
  state=$(awk '{print $3}' "/proc/$app/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# How often the GUI thread has gone to sleep so far.
gui_switches() {
  awk '/^voluntary_ctxt_switches:/ {print $2}' "/proc/$app/task/$app/status" 2>/dev/null || echo 0
}

# The GUI thread is back in its event loop when, having woken since the count given,
# it waits in poll (7) or ppoll (271) again. Prints how long that took, in
# milliseconds; fails after the timeout.
wait_idle() {
  local before=${1:--1} start now call
  start=$(date +%s%3N)
  while :; do
    alive || return 1
    read -r call _ <"/proc/$app/task/$app/syscall" 2>/dev/null || call=
    now=$(date +%s%3N)
    if { [ "$call" = 7 ] || [ "$call" = 271 ]; } && [ "$(gui_switches)" -gt "$before" ]; then
      echo $((now - start))
      return 0
    fi
    [ $((now - start)) -lt $((response_timeout * 1000)) ] || return 1
    sleep 0.02
  done
}

press() {  # go-on-air / go-off-air button with the focus; prints the response time
  local before
  echo "$(date +%s.%N) cycle $cycle: $1" >>"$work/events.log"
  before=$(gui_switches)
  xdotool key --window "$window" space
  wait_idle "$before" && return
  alive && stack_dump hang-stacks.txt
  fail "the program hung or died after a key press (cycle $cycle)"
}

publishing() {  # the program holds an established connection to the server
  ss -Htnp state established "dst 127.0.0.1:$port" 2>/dev/null | grep -q "pid=$app,"
}

# The program's connections to the server in any state, by local address.
connections() {
  ss -Htnp "dst 127.0.0.1:$port" 2>/dev/null | awk -v me="pid=$app," 'index($0, me) { print $4 }' | sort
}

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$app/status"; }
threads() { ls "/proc/$app/task" | wc -l; }
descriptors() { ls "/proc/$app/fd" | wc -l; }

stack_dump() {  # file
  gdb -p "$app" -batch -ex "thread apply all bt" >"$work/$1" 2>&1 || true
}

# A fault the soak records and goes on after; the run fails at its end.
problems=()
problem() {
  problems+=("$1")
  echo "$(date +%s.%N) PROBLEM: $1" >>"$work/events.log"
}

# Connections left after going off air that were not left before: none, within 5 s.
left_over=
check_disconnected() {
  local new
  for _ in $(seq 50); do
    new=$(comm -13 <(echo "$left_over") <(connections) | grep . || true)
    [ -n "$new" ] || return 0
    sleep 0.1
  done
  ss -tnp "dst 127.0.0.1:$port" >"$work/sockets-cycle-$cycle.txt"
  stack_dump "stacks-cycle-$cycle.txt"
  problem "cycle $cycle: connection $(echo $new) to the server still open 5 s after going off air"
  left_over=$(printf '%s\n%s\n' "$left_over" "$new" | grep . | sort)
}

one_cycle() {
  local on off was_publishing=0
  on=$(press "on air")
  sleep "$(random_between 1000 3000)"
  publishing && was_publishing=1
  off=$(press "off air")
  check_disconnected
  echo "$cycle,$on,$off,$was_publishing,$(rss_kb),$(threads),$(descriptors)" >>"$work/cycles.csv"
}

# Threads and descriptors of engine workers wind down after going off air: wait for them.
settle_to() {  # threads descriptors
  for _ in $(seq $((settle_timeout * 10))); do
    [ "$(threads)" -le "$1" ] && [ "$(descriptors)" -le "$2" ] && return 0
    sleep 0.1
  done
  return 1
}

mean_rss() {  # first last (cycles, inclusive)
  awk -F, -v a="$1" -v b="$2" 'NR > 1 && $1 >= a && $1 <= b { s += $5; n++ } END { printf "%d", s / n }' \
    "$work/cycles.csv"
}

column_max() { awk -F, -v c="$1" 'NR > 1 && $c > m { m = $c } END { print m + 0 }' "$work/cycles.csv"; }

summarize() {
  local first last growth restarts published seen responses
  first=$(mean_rss 1 "$window_cycles")
  last=$(mean_rss $((cycles - window_cycles + 1)) "$cycles")
  growth=$(awk -v a="$first" -v b="$last" 'BEGIN { printf "%.1f", (b - a) * 100 / a }')
  restarts=$(grep -c 'server up again' "$work/events.log" || true)
  published=$(grep -c 'publish: name=' "$work/rtmp/error.log" 2>/dev/null || true)
  seen=$(awk -F, 'NR > 1 { s += $4 } END { print s + 0 }' "$work/cycles.csv")
  responses=$(awk -F, 'NR > 1 { if ($2 > m) m = $2; if ($3 > m) m = $3 } END { print m + 0 }' "$work/cycles.csv")
  {
    echo "cycles: $cycles in $(( $(date +%s) - started )) s, seed $seed"
    echo "server restarts: ${restarts:-0}; publish sessions the server saw: ${published:-0};" \
      "cycles seen publishing: $seen of $cycles"
    echo "slowest return of the GUI thread to its event loop: $responses ms"
    echo "RSS: before the first cycle $rss0 kB; mean of cycles 1-$window_cycles $first kB," \
      "of cycles $((cycles - window_cycles + 1))-$cycles $last kB: growth $growth %"
    echo "threads: before $threads0, after cycle 1 $threads1, most $(column_max 6), after the last $threads_end"
    echo "descriptors: before $fds0, after cycle 1 $fds1, most $(column_max 7), after the last $fds_end"
  } | tee "$work/summary.txt"
  if [ "$cycles" -lt 100 ]; then
    echo "memory growth not judged under 100 cycles" | tee -a "$work/summary.txt"
  elif ! awk -v g="$growth" -v m="$max_growth_percent" 'BEGIN { exit !(g <= m) }'; then
    problem "memory grew by $growth %"
  fi
}

check_left_over() {
  if [ "$threads_end" -gt "$threads1" ]; then
    stack_dump stacks-at-end.txt
    problem "threads left over: $threads_end, after cycle 1 $threads1"
  fi
  if [ "$fds_end" -gt "$fds1" ]; then
    ls -l "/proc/$app/fd" >"$work/fds-at-end.txt"
    problem "descriptors left over: $fds_end, after cycle 1 $fds1"
  fi
}

close_program() {
  # The window is gone before the key's release arrives: that error is expected.
  echo "$(date +%s.%N) closing the window" >>"$work/events.log"
  xdotool key --window "$window" Escape 2>/dev/null || true
  local start tick
  start=$(date +%s%3N)
  for tick in $(seq 150); do
    alive || break
    # Where a slow close spends its time, while it still can be seen.
    [ "$tick" -ne 30 ] || stack_dump stacks-slow-close.txt
    sleep 0.1
  done
  echo "closing took $(( $(date +%s%3N) - start )) ms" | tee -a "$work/summary.txt"
  if alive; then
    stack_dump stacks-at-close.txt
    fail "the program did not end when its window was closed, see $work/stacks-at-close.txt"
  fi
  local status=0
  wait "$app" || status=$?
  [ "$status" -eq 0 ] || problem "the program ended with status $status"
  [ ! -e "$dump" ] || problem "the program left a crash dump"
}

verdict() {
  if [ ${#problems[@]} -eq 0 ]; then
    echo "soak: passed" | tee -a "$work/summary.txt"
    return 0
  fi
  printf 'soak: FAILED: %s\n' "${problems[@]}" | tee -a "$work/summary.txt" >&2
  return 1
}

check_tools() {
  peers_need Xvfb xdotool pulseaudio pactl gst-launch-1.0 nginx ss
  [ -x "$program" ] || { echo "soak: no program at $program (build first)" >&2; exit 2; }
}

main() {
  check_tools
  rm -rf "$work"
  mkdir -p "$work"
  port=$(peers_free_port)
  start_display
  start_sound
  server start || fail "the RTMP server did not start"
  write_settings
  start_program
  rss0=$(rss_kb); threads0=$(threads); fds0=$(descriptors)
  echo "cycle,on_ms,off_ms,publishing,rss_kb,threads,fds" >"$work/cycles.csv"
  started=$(date +%s)
  start_restarts
  for cycle in $(seq "$cycles"); do
    one_cycle
    # What the first cycle leaves, once it has wound down, is what every later one may.
    if [ "$cycle" -eq 1 ]; then sleep 3; threads1=$(threads); fds1=$(descriptors); fi
  done
  stop_restarts
  settle_to "$threads1" "$fds1" || true
  threads_end=$(threads); fds_end=$(descriptors)
  summarize
  check_left_over
  close_program
  verdict
}

main
