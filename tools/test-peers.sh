# Peers for the scripts that run the real engine: a local nginx-rtmp, a private
# PulseAudio server with a silent microphone and a player output, and an Xvfb display.
# Source it; each start function appends the process it starts to the array `pids`.

peers_listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

peers_free_port() {
  local port=$((20000 + RANDOM % 40000))
  while peers_listening "$port"; do port=$((20000 + RANDOM % 40000)); done
  echo "$port"
}

# peers_start_rtmp SOURCE_DIR DIR PORT: records every stream under DIR/rec.
peers_start_rtmp() {
  "$1/tools/rtmp-server.sh" start --port "$3" --dir "$2" --record --foreground >/dev/null 2>&1 &
  pids+=($!)
}

# peers_start_pulse DIR: exports PULSE_SERVER for the clients started afterwards.
peers_start_pulse() {
  local dir=$1
  mkdir -p "$dir/home" "$dir/run"
  cat >"$dir/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=player_sink sink_properties=device.description=PlayerSink
load-module module-null-sink sink_name=mic_sink sink_properties=device.description=FakeMicSink
set-default-sink player_sink
set-default-source mic_sink.monitor
PA
  HOME=$dir/home XDG_RUNTIME_DIR=$dir/run \
    pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 --disallow-exit >/dev/null 2>&1 &
  pids+=($!)
  export PULSE_SERVER=unix:$dir/native
}

# peers_start_xvfb WIDTHxHEIGHT: exports DISPLAY; fails when the server does not come up.
peers_start_xvfb() {
  local number
  exec 5<> <(:)
  Xvfb -displayfd 5 -screen 0 "$1x24" -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  read -r -t 10 number <&5 || return 1
  export DISPLAY=:$number
}
