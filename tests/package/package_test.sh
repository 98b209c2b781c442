#!/usr/bin/env bash
# The Debian package end to end, as root: build it, check it with lintian, install it
# with apt, start the installed program as the desktop's menu does, see it load its
# engines from /usr/lib/publish_tavisk/ and list this test's screen and microphone,
# validate the installed desktop entry and metainfo, crash it as a user and find the dump
# in that user's state folder, then purge the package and find nothing of it left. An installed publish-tavisk is replaced, and purged at the end.
#   tests/package/package_test.sh [BUILD_DIR]     (default: build-package)
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source/build-package}
package=publish-tavisk
libdir=/usr/lib/publish_tavisk
export DEBIAN_FRONTEND=noninteractive
# Wait for another apt or dpkg run on the machine instead of failing at once.
apt=(apt-get -y -q -o DPkg::Lock::Timeout=300)

(( $(id -u) == 0 )) || { echo "needs root: it installs and purges $package"; exit 1; }

work=$(mktemp -d /tmp/tavisk-package-XXXXXX)
pids=()
installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; }
purge() { "${apt[@]}" purge "$package" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; return 1; }; }
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if installed; then purge || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "== $*"; }
started=$SECONDS

step "build"
deb=$("$source/packaging/build-deb.sh" "$build")
echo "$deb"

step "relations"
# What no library links against: a Wayland desktop's Qt platform and screen, and its chooser.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in qt6-wayland gstreamer1.0-pipewire; do
  [[ ", $depends," == *", $needed,"* ]] || fail "Depends lacks $needed: $depends"
done
[[ $(dpkg-deb -f "$deb" Recommends) == xdg-desktop-portal ]] || fail "Recommends is not xdg-desktop-portal"

step "lintian"
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian found errors"; }
grep -v "running with root privileges" "$work/lintian" || true

step "install"
if installed; then purge; fi
# What the package holds that was there before it, so that the purge may leave it.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep . >"$work/contents"
while read -r path; do
  if [[ -e $path || -L $path ]]; then echo "$path"; fi
done <"$work/contents" >"$work/there-before"
"${apt[@]}" install --no-install-recommends "$deb" >"$work/install.log" 2>&1 \
  || { cat "$work/install.log"; fail "apt-get could not install the package"; }
dpkg -L "$package" >"$work/files"
desktop_entry=$(grep '^/usr/share/applications/.*\.desktop$' "$work/files")
metainfo=$(grep '^/usr/share/metainfo/.*\.xml$' "$work/files")

step "validate $desktop_entry $metainfo"
desktop-file-validate "$desktop_entry" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

step "start from the menu entry"
home=$work/home
mkdir -p "$home" && mkdir -m 0700 "$work/run"
export HOME=$home XDG_RUNTIME_DIR=$work/run LANG=C.UTF-8 LC_ALL=C.UTF-8
unset XDG_STATE_HOME AT_SPI_BUS_ADDRESS
. "$source/tools/test-peers.sh"
peers_start_pulse "$work/pulse"
peers_start_xvfb 1024x768 || fail "Xvfb did not start"
# A session bus and its accessibility bus, through which the device lists are read.
dbus-daemon --session --nofork --address="unix:path=$work/session-bus" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/session-bus
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && [[ -S $work/session-bus ]] && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || fail "pulseaudio did not start"
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
# Qt shows its widgets on that bus only while accessibility is on, as a screen reader turns it on.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

(cd / && gio launch "$desktop_entry") || fail "gio could not launch $desktop_entry"
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^publish_tavisk$' | head -1)
[[ -n $window ]] || fail "no window titled publish_tavisk"
program=$(xdotool getwindowpid "$window")
pids+=($program)
echo "window $window of process $program"
[[ $(readlink "/proc/$program/exe") == "$libdir/publish_tavisk" ]] \
  || fail "the process runs $(readlink "/proc/$program/exe")"
[[ $(readlink "/proc/$program/cwd") == "$home" ]] \
  || fail "started in $(readlink "/proc/$program/cwd"), not in the home folder"
engines=$(grep -oE '/[^ ]*/lib(castorn|vistrel)\.so$' "/proc/$program/maps" | sort -u)
echo "$engines"
[[ $engines == "$libdir/libcastorn.so"$'\n'"$libdir/libvistrel.so" ]] \
  || fail "the engines were not loaded from $libdir"

a11y=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress)
/usr/bin/python3 "$source/tests/package/device_lists.py" "${a11y// /}" publish_tavisk >"$work/lists" \
  || fail "the window's lists could not be read"
cat "$work/lists"
# The combo boxes in tab order: video device, player, audio device, playback device.
grep -q "^0	Screen $DISPLAY\.0 " "$work/lists" || fail "the video devices lack this display's screen"
grep -q "^2	.*FakeMicSink" "$work/lists" || fail "the audio devices lack this test's microphone"

xdotool windowfocus --sync "$window" key Escape
for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program" 2>/dev/null && fail "the program still runs after Escape"

step "crash as a user"
# The program's folder is not the user's to write: the dump goes to the user's state folder.
user_home=$work/user-home
mkdir "$user_home" && chown nobody:nogroup "$user_home" && chmod 755 "$work"
(cd "$user_home" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -u PULSE_SERVER -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR HOME="$user_home" \
  /usr/bin/publish_tavisk) >"$work/user.log" 2>&1 &
user_program=$!
pids+=($user_program)
timeout 20 xdotool search --sync --onlyvisible --pid "$user_program" --name '^publish_tavisk$' >/dev/null \
  || fail "no window from the program started as a user: $(tail -3 "$work/user.log")"
kill -SEGV "$user_program"
status=0
wait "$user_program" 2>/dev/null || status=$?  # quiet: the shell would announce the signal
(( status == 128 + 11 )) || fail "the program ended with status $status, not by its SIGSEGV"
dump=$user_home/.local/state/publish_tavisk/publish_tavisk.dmp
[[ $(head -c 4 "$dump" 2>/dev/null) == MDMP ]] || fail "no minidump at $dump"
echo "$dump: $(stat -c '%s bytes, mode %a, owner %U' "$dump")"

step "purge"
purge
installed && fail "$package is still installed"
leftovers=$(while read -r path; do
  if [[ -e $path || -L $path ]] && ! grep -qxF "$path" "$work/there-before"; then echo "$path"; fi
done <"$work/files")
[[ -z $leftovers ]] || fail "left after the purge: $leftovers"
echo "package test passed in $((SECONDS - started)) s"
