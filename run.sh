#!/usr/bin/env bash
# Installs what is missing, builds, starts a local RTMP server when none listens,
# and runs the program.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVISK_TESTS=OFF
cmake --build build -j2
tools/rtmp-server.sh start
exec build/publish_tavisk
