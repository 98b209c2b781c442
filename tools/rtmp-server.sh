#!/bin/bash
# A local RTMP server (nginx with Debian's RTMP module) to publish to and watch from.
#
#   tools/rtmp-server.sh start [--port N] [--dir DIR] [--record] [--publish-log FILE] [--foreground]
#   tools/rtmp-server.sh stop  [--dir DIR]
#   tools/rtmp-server.sh status [--port N]
#
# start does nothing when something already listens on 127.0.0.1:PORT (default 1935).
# The server offers the application "live"; watch with
#   ffplay rtmp://127.0.0.1:1935/live/STREAM
# --record keeps every published stream as FLV under DIR/rec. --publish-log appends
# "name=NAME args=ARGS" to FILE for each publish (ARGS: the query of the stream name,
# where publish keys travel). --foreground runs nginx in the foreground (for tests that
# own its process). The server listens on [::1]:PORT as well when the system has IPv6.
set -euo pipefail

MODULE=/usr/lib/nginx/modules/ngx_rtmp_module.so
action=${1:-start}
[ $# -gt 0 ] && shift
port=1935
dir="${XDG_RUNTIME_DIR:-/tmp}/publish_tavisk-rtmp-$(id -u)"
record=0
publish_log=
foreground=0
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --record) record=1; shift ;;
    --publish-log) publish_log=$2; shift 2 ;;
    --foreground) foreground=1; shift ;;
    *) echo "rtmp-server: unknown option $1" >&2; exit 2 ;;
  esac
done

listening() {
  # bash's /dev/tcp connects without any other tool
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}

write_config() {
  mkdir -p "$dir/rec"
  local user_line="" record_lines="record off;"
  # nginx started as root drops to "nobody" for its worker, which then cannot write
  # the recording while the publisher still sees success.
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  [ "$record" -eq 1 ] && record_lines="record all; record_path $dir/rec; record_unique on;"
  local exec_lines="" ipv6_listen=""
  [ -n "$publish_log" ] && exec_lines="exec_publish /bin/echo name=\$name args=\$args >>$publish_log;"
  [ -f /proc/net/if_inet6 ] && ipv6_listen="listen [::1]:$port;"
  cat >"$dir/nginx.conf" <<EOF
load_module $MODULE;
$user_line
pid $dir/nginx.pid;
error_log $dir/error.log info;
daemon $([ "$foreground" -eq 1 ] && echo off || echo on);
events { worker_connections 64; }
rtmp {
  # The module's access log would go to /var/log/nginx, which only root may write.
  access_log $dir/access.log;
  server {
    listen 127.0.0.1:$port;
    $ipv6_listen
    application live { live on; $record_lines $exec_lines }
  }
}
EOF
}

start() {
  if listening; then
    echo "rtmp-server: 127.0.0.1:$port is already served"
    return 0
  fi
  if [ ! -x /usr/sbin/nginx ] || [ ! -f "$MODULE" ]; then
    echo "rtmp-server: needs the packages nginx and libnginx-mod-rtmp" >&2
    return 3
  fi
  write_config
  if [ "$foreground" -eq 1 ]; then
    exec /usr/sbin/nginx -e "$dir/error.log" -c "$dir/nginx.conf" -p "$dir/"
  fi
  /usr/sbin/nginx -e "$dir/error.log" -c "$dir/nginx.conf" -p "$dir/"
  for _ in $(seq 50); do
    listening && { echo "rtmp-server: rtmp://127.0.0.1:$port/live"; return 0; }
    sleep 0.1
  done
  echo "rtmp-server: nginx did not come up, see $dir/error.log" >&2
  return 1
}

stop() {
  [ -f "$dir/nginx.pid" ] || return 0
  kill -TERM "$(cat "$dir/nginx.pid")" 2>/dev/null || true
  rm -f "$dir/nginx.pid"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  status) listening && echo "listening on 127.0.0.1:$port" || { echo "nothing on 127.0.0.1:$port"; exit 1; } ;;
  *) echo "usage: $0 start|stop|status [--port N] [--dir DIR] [--record] [--publish-log FILE] [--foreground]" >&2; exit 2 ;;
esac
