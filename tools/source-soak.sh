#!/usr/bin/env bash
# Soak of lost capture sources: the engine on air with a camera and a microphone
# loses both (the camera fails, the sound server stops) and gets them back, again and
# again, against a local RTMP server. Prints the threads, descriptors and memory of
# every cycle; fails when a cycle leaves threads or descriptors behind, when memory
# grows by more than 10 % from the first cycle to the last, or when the publication
# breaks off. The short variant runs in ctest (SourceLoss.LosingAndGettingBack...).
#
#   tools/source-soak.sh [--cycles N] [--build DIR]     (default: 20 cycles, ./build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cycles=20
build=$root/build
while [ $# -gt 0 ]; do
  case "$1" in
    --cycles) cycles=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "source-soak: unknown option $1" >&2; exit 2 ;;
  esac
done
test=$build/tests/castorn_source_loss_test
[ -x "$test" ] || { echo "source-soak: no $test (build with -DTAVISK_TESTS=ON first)" >&2; exit 2; }
# The program keeps glibc to two malloc arenas; so does the soak, or every short-lived
# thread's arena counts as growth.
MALLOC_ARENA_MAX=2 MALLOC_MMAP_THRESHOLD_=131072 SOURCE_SOAK_CYCLES=$cycles exec "$test" \
  --gtest_filter='SourceLoss.LosingAndGettingBackTheSourcesLeavesNoThreadsDescriptorsOrMemoryBehind'
