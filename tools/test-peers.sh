# Peers for the scripts that run the real engine: a local nginx-rtmp, a private
# PulseAudio server with a silent microphone and a player output, and an Xvfb display.
# Source it; each start function appends the process it starts to the array `pids`.

# peers_need TOOL...: exits 77 (a skip for ctest) when one is not installed; nginx
# needs its RTMP module as well.
peers_need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  [[ " $* " != *" nginx "* ]] || [ -f /usr/lib/nginx/modules/ngx_rtmp_module.so ] ||
    { echo "SKIP: libnginx-mod-rtmp is not installed"; exit 77; }
}

# peers_stop_all: ends every process in `pids`, a stopped one too, and waits for them.
peers_stop_all() {
  local pid
  for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}

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

# peers_write_settings DIR SERVER APPLICATION STREAM KEY [WIDTH HEIGHT FPS KBITS]: a
# set.ini for the program in DIR, at 320x240, 10 fps, 160 kbit/s unless told otherwise.
peers_write_settings() {
  mkdir -p "$1"
  cat >"$1/set.ini" <<INI
[Start]
first=True
[svr]
m_strScheduleSvr=$2
m_strPublishRoomInfo=$3
m_strPublishStageInfo=$4
m_strUserID=10000
m_strKey=$5
[video]
m_iVdFps=${8:-10}
m_iVdBitRate=${9:-160}
m_iVdWidth=${6:-320}
m_iVdHeight=${7:-240}
m_iVdInterval=30
[audio]
m_iAdSampleRate=44100
m_iAdBitRate=32
m_iAdChannels=2
m_iAdBitPerSample=16
INI
}

# peers_start_program PROGRAM DIR: runs it in DIR (where its set.ini is), sets `program`
# to its pid and `window` to its window, focused on going on air; fails when no window comes.
peers_start_program() {
  (cd "$2" && exec "$1") >"$2/program.log" 2>&1 &
  program=$!
  pids+=($program)
  # A generous wait: on a machine busy building, a first start has taken over 20 s.
  window=$(timeout 60 xdotool search --sync --name '^publish_tavisk$' 2>/dev/null | head -1)
  if [ -z "$window" ]; then
    echo "no window; the program says:" && tail -20 "$2/program.log"
    return 1
  fi
  xdotool windowfocus --sync "$window"
  sleep 1  # the window takes its first focus ("上麦") after it is shown
}

# peers_on_air SECONDS: the program of peers_start_program goes on air for that long and
# off again; sets `on` and `off` (seconds since the epoch); fails when it has ended.
peers_on_air() {
  on=$(date +%s.%N)
  xdotool key --window "$window" space
  sleep "$1"
  off=$(date +%s.%N)
  xdotool key --window "$window" space
  sleep 2
  kill -0 "$program" 2>/dev/null
}

# peers_check_recording FILE ON OFF WIDTH HEIGHT FPS: prints what ffprobe finds; fails
# unless it is H.264 at that size and rate and AAC at 44.1 kHz stereo, as long as the
# time on air (ON and OFF in seconds) within a tenth.
peers_check_recording() {
  # One "name=value" a line: streams as stream.N.name, the format as format.name.
  ffprobe -v error -count_packets -show_entries \
    stream=codec_name,width,height,sample_rate,channels,nb_read_packets:format=duration -of flat "$1" |
  awk -F= -v on="$2" -v off="$3" -v width="$4" -v height="$5" -v fps="$6" '
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
      ok = value[v "width"] + 0 == width && value[v "height"] + 0 == height && rate >= fps * 0.9 &&
           rate <= fps * 1.1 && value[a "sample_rate"] + 0 == 44100 && value[a "channels"] + 0 == 2 &&
           duration >= onAir * 0.9 && duration <= onAir * 1.1
      exit ok ? 0 : 1
    }'
}

# peers_await PORT: waits up to 10 s until the sound server answers and PORT listens.
peers_await() {
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && peers_listening "$1" && return 0
    sleep 0.1
  done
  return 1
}

# peers_start_bench SOURCE_DIR DIR: nginx on a free port (`port`, its process `nginx`),
# the sound server and a 1280x720 display, for the benchmarks; waits until they answer.
peers_start_bench() {
  port=$(peers_free_port)
  peers_start_rtmp "$1" "$2/nginx" "$port"
  nginx=${pids[-1]}
  peers_start_pulse "$2/pulse"
  peers_start_xvfb 1280x720
  peers_await "$port"
}

# median_spread VALUES...: "median (min–max)"
median_spread() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.2f (%.2f–%.2f)", m, v[1], v[NR] }'
}

# peers_play_ball_and_tone: something moving on the screen and a tone in the microphone.
peers_play_ball_and_tone() {
  gst-launch-1.0 -q videotestsrc pattern=ball is-live=true ! video/x-raw,width=640,height=360,framerate=30/1 \
    ! ximagesink >/dev/null 2>&1 &
  pids+=($!)
  gst-launch-1.0 -q audiotestsrc is-live=true volume=0.5 ! pulsesink device=mic_sink >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
}
