#!/usr/bin/env bash
# The real program on a real X display: its window appears with its title, and
# closing it right away ends the process normally.
set -euo pipefail
binary=$1
. "$(dirname "$0")/../../tools/test-peers.sh"
peers_need Xvfb xdotool

work=$(mktemp -d)
pids=()
trap 'peers_stop_all; rm -rf "$work"' EXIT
peers_start_xvfb 1024x768 || { echo "Xvfb did not start"; exit 1; }
# No window manager runs: the window is given the keyboard focus by hand.
peers_start_program "$binary" "$work" || { echo "no window"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window $window: ${WIDTH}x${HEIGHT}"
(( WIDTH > 300 && HEIGHT > 200 )) || { echo "window too small for its controls"; exit 1; }

xdotool key Escape
for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program" 2>/dev/null; then echo "still running after Escape"; exit 1; fi
status=0
wait "$program" || status=$?
echo "exit status $status"
[[ $status -eq 0 ]]
