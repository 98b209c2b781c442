#!/usr/bin/env bash
# Builds the Debian package from a Release build of its own, with Debian's hardening
# flags, and prints the package's path.
#   packaging/build-deb.sh [BUILD_DIR]     (default: build-package)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source/build-package}

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flag() { dpkg-buildflags --get "$1"; }
# CMake reads no CPPFLAGS, where _FORTIFY_SOURCE is.
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVISK_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(flag CPPFLAGS) $(flag CXXFLAGS)" -DCMAKE_C_FLAGS="$(flag CPPFLAGS) $(flag CFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flag LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flag LDFLAGS)" >/dev/null
rm -f "$build"/publish-tavisk_*.deb
cmake --build "$build" -j2 --target package >/dev/null
ls "$build"/publish-tavisk_*.deb
