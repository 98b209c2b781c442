#!/usr/bin/env bash
# A Wayland desktop with no screen for tests: sway on its headless output with the
# software renderer, PipeWire and WirePlumber, and the ScreenCast portal whose chooser
# is the given command, all on a private session bus. Run as an unprivileged user (sway
# refuses root). Writes the environment a client needs to FOLDER/desktop.env once all
# is up, then runs until stopped. The portal backend's process id is in
# FOLDER/portal-backend.pid; when it ends it is started again.
#   headless-desktop.sh FOLDER SHIM CHOOSER
set -euo pipefail
folder=$1 shim=$2 chooser=$3

if [[ ${TAVISK_DESKTOP_BUS:-} != "$folder" ]]; then
  # What the bus starts by itself sees this environment too.
  export TAVISK_DESKTOP_BUS=$folder HOME=$folder/home XDG_RUNTIME_DIR=$folder/runtime
  export XDG_CONFIG_HOME=$folder/config XDG_DATA_HOME=$folder/data XDG_CURRENT_DESKTOP=sway
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
  mkdir -p "$XDG_CONFIG_HOME/sway" "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr" "$HOME" "$XDG_DATA_HOME"
  exec dbus-run-session -- "$0" "$@"
fi
cat >"$XDG_CONFIG_HOME/sway/config" <<CONFIG
output HEADLESS-1 mode --custom 1280x720@60Hz
default_border none
CONFIG
cat >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<CONFIG
[screencast]
output_name=HEADLESS-1
chooser_type=simple
chooser_cmd=$chooser
max_fps=30
CONFIG

trap 'kill $(jobs -p) 2>/dev/null; wait' EXIT
trap 'exit 0' TERM INT

pipewire &
wireplumber &
WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$XDG_CONFIG_HOME/sway/config" &
for _ in $(seq 100); do
  socket=$(cd "$XDG_RUNTIME_DIR" && ls wayland-? 2>/dev/null | head -1 || true)
  [[ -n $socket ]] && break
  sleep 0.1
done
[[ -n $socket ]] || { echo "sway did not start" >&2; exit 1; }
export WAYLAND_DISPLAY=$socket
export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
(
  while :; do
    LD_PRELOAD=$shim /usr/libexec/xdg-desktop-portal-wlr -r &
    echo $! >"$folder/portal-backend.pid"
    wait $! || true
    sleep 0.2
  done
) &
timeout 10 gdbus wait --session org.freedesktop.impl.portal.desktop.wlr
/usr/libexec/xdg-desktop-portal -r &
timeout 10 gdbus wait --session org.freedesktop.portal.Desktop
for _ in $(seq 100); do
  [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break
  sleep 0.1
done

cat >"$folder/desktop.env.part" <<ENV
WAYLAND_DISPLAY=$WAYLAND_DISPLAY
SWAYSOCK=$SWAYSOCK
XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR
DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
ENV
mv "$folder/desktop.env.part" "$folder/desktop.env"
wait
