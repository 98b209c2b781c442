#!/usr/bin/env bash
# Crash-dump benchmark: a program with 20 threads (the main one and 19 sleeping workers) faults
# on its main thread; measured are the minidump's size and the time from the fault to the moment
# the parent sees the process end by its signal, against the same crash without the handler.
#
#   bench/crash_dump_bench.sh [RUNS] [THREADS]      (defaults: 30 runs, 20 threads)
# WORK_PARENT (default /tmp) holds the program and its dump, so the file system can be chosen.
# BUILD_DIR (default build-crash) is configured and the crashing helper program is built in it.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
threads=${2:-20}
build=${BUILD_DIR:-build-crash}

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target crash_helper >/dev/null

work=$(mktemp -d "${WORK_PARENT:-/tmp}/crash_bench_XXXXXX")
trap 'rm -rf "$work"' EXIT
c++ -std=c++20 -O2 bench/crash_bench_driver.cpp -o "$work/crash_bench_driver"
cp "$build/tests/crash_helper" "$work/crash_helper"
export XDG_STATE_HOME="$work/state"

echo "== crash handler installed (dump beside the program in $work)"
"$work/crash_bench_driver" "$work/crash_helper" "$threads" "$runs"
echo "== no handler (the default action alone)"
"$work/crash_bench_driver" "$work/crash_helper" "$threads" "$runs" --no-install
