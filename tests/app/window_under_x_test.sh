#!/usr/bin/env bash
# The real program on a real X display: its window appears with its title, and
# closing it right away ends the process normally.
set -euo pipefail
program=$1
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 77; }
done

work=$(mktemp -d)
display=:$((100 + RANDOM % 800))
cleanup() {
  [[ -n ${app:-} ]] && kill "$app" 2>/dev/null || true
  [[ -n ${xvfb:-} ]] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

cd "$work"
"$program" &
app=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^publish_tavisk$' | head -1)
[[ -n $window ]] || { echo "no window"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window $window: ${WIDTH}x${HEIGHT}"
(( WIDTH > 300 && HEIGHT > 200 )) || { echo "window too small for its controls"; exit 1; }

# No window manager runs: give the window the keyboard focus by hand.
sleep 0.5
xdotool windowfocus --sync "$window"
xdotool key Escape
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then echo "still running after Escape"; exit 1; fi
wait "$app"
status=$?
app=
echo "exit status $status"
[[ $status -eq 0 ]]
