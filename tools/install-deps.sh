#!/usr/bin/env bash
# Installs the Debian packages the build, the program and its tests need, when missing.
# Needs root, or sudo.
set -euo pipefail

BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libjsoncpp-dev libgtest-dev libgmock-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libpulse-dev libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libyuv-dev
  dpkg-dev file  # the Debian package: dpkg-buildflags, dpkg-shlibdeps, CPack's file types
)
# What the program needs at run time beside the libraries it links, and the local RTMP server.
mapfile -t RUN_PACKAGES < <(grep -v '^#' "$(dirname "$0")/../packaging/depends")
RUN_PACKAGES+=(nginx libnginx-mod-rtmp)
TEST_PACKAGES=(
  xvfb xauth x11-utils x11-xserver-utils xdotool gstreamer1.0-tools gstreamer1.0-plugins-base-apps
  ffmpeg pulseaudio pulseaudio-utils sox openssl imagemagick
  lldb-15 clang-14 libclang-rt-14-dev
  python3 iproute2 nodejs npm
  # A headless Wayland desktop with the ScreenCast portal (tests/support/WaylandDesktop.h).
  sway xdg-desktop-portal xdg-desktop-portal-wlr grim gstreamer1.0-pipewire pipewire wireplumber
)
# Checking the Debian package, starting it from its menu entry, and reading its window's
# device lists as an assistive technology would (tests/package/).
PACKAGE_TEST_PACKAGES=(
  lintian desktop-file-utils appstream libglib2.0-bin
  dbus-daemon at-spi2-core python3-dbus
)
# A node.js from elsewhere brings its own npm, which Debian's npm package cannot join:
# a command that is there already counts as its package.
PROVIDED_COMMANDS=(npm)
# PipeWire's PulseAudio server (pipewire-pulse) is left out on purpose: installing it on a
# desktop takes over from PulseAudio, and two faults of ours on it are still open (README).
# PipeWire itself is there for the portal screen. The sound-server tests also run on a
# private PipeWire when its PulseAudio server is present.

wanted=("${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}")
[[ ${1:-} == --with-tests ]] && wanted+=("${TEST_PACKAGES[@]}" "${PACKAGE_TEST_PACKAGES[@]}")

missing=()
for package in "${wanted[@]}"; do
  [[ " ${PROVIDED_COMMANDS[*]} " == *" $package "* ]] && command -v "$package" >/dev/null && continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
