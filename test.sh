#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
#   ./test.sh              the ordinary build
#   ./test.sh --sanitize   the AddressSanitizer + UndefinedBehaviorSanitizer build
set -euo pipefail
cd "$(dirname "$0")"

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVISK_TESTS=ON)
if [[ ${1:-} == --sanitize ]]; then
  build=build-sanitize
  options=(-DCMAKE_BUILD_TYPE=Debug -DTAVISK_SANITIZE=ON -DTAVISK_TESTS=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
fi

tools/install-deps.sh --with-tests
# A compiler cache where there is one, shared by every clone: paths below this folder
# count as relative, and the debug information's folder is not part of what is compared.
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
fi
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build" -j2
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# No retries: a test that fails once is a fault to find.
ctest --test-dir "$build" --output-on-failure --timeout 300
