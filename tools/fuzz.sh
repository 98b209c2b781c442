#!/usr/bin/env bash
# Fuzzes each target with libFuzzer (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# for a given time, and prints executions per second, coverage and findings.
#
#   tools/fuzz.sh [--time SECONDS] [--jobs N] [TARGET...]
#
# Default: 600 s for every target, one at a time. Targets: profile settings_file
# publish_address player_list_reply engine_message execute_command engine_settings.
# Each run starts from the seed corpus and past findings in tests/fuzz/; what it
# learns stays in build-fuzz/fuzz/corpus/TARGET, a finding goes to
# build-fuzz/fuzz/findings/TARGET/. Keep a finding in tests/fuzz/regressions/TARGET/
# once it is fixed: the ordinary test suite replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(profile settings_file publish_address player_list_reply engine_message execute_command engine_settings mp4_fragments)
seconds=600
jobs=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    -*) echo "fuzz: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

build=build-fuzz
work=$build/fuzz
sources=tests/fuzz

dictionary() {
  case "$1" in
    profile|settings_file) echo "$sources/dictionaries/ini.dict" ;;
    publish_address|engine_settings) echo "$sources/dictionaries/address.dict" ;;
    mp4_fragments) echo "$sources/dictionaries/mp4.dict" ;;
    *) echo "$sources/dictionaries/json.dict" ;;
  esac
}

build_targets() {
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVISK_FUZZ=ON -DTAVISK_TESTS=ON >/dev/null
  cmake --build "$build" -j2 --target "${targets[@]/%/_fuzzer}"
}

# One target for the given time; its log holds libFuzzer's final statistics.
run_target() {
  local target=$1 corpus=$work/corpus/$1 findings=$work/findings/$1
  local folders=("$corpus" "$sources/corpus/$target")
  [ -d "$sources/regressions/$target" ] && folders+=("$sources/regressions/$target")
  mkdir -p "$corpus" "$findings"
  local status=0
  "$build/tests/fuzz/${target}_fuzzer" "${folders[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="$(dictionary "$target")" \
    -artifact_prefix="$findings/" >"$work/$target.log" 2>&1 || status=$?
  echo "$status" >"$work/$target.status"
}

# target, runs, exec/s, coverage (edges), features, corpus, result
summary_line() {
  local target=$1 status=$2 log=$work/$1.log
  local runs speed cov ft corp
  # A run that ends at its first input has none of these figures.
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  corp=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  local result="no finding"
  [ "$status" -eq 0 ] || result="FINDING, see $log and $work/findings/$target/"
  printf '%-18s %6ss %12s %8s %6s %7s %6s  %s\n' "$target" "$seconds" "${runs:-?}" "${speed:-?}" \
    "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result"
}

build_targets
mkdir -p "$work"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# A JSON document is thousands of small blocks: ASan's default quarantine, counted in
# payload, then holds gigabytes of redzones and nears the RSS limit.
export ASAN_OPTIONS=quarantine_size_mb=64
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0

for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$target" &
done
wait

failed=0
printf '%-18s %7s %12s %8s %6s %7s %6s  %s\n' target time runs exec/s cov ft corpus result | tee "$work/summary.txt"
for target in "${targets[@]}"; do
  status=$(cat "$work/$target.status")
  [ "$status" -eq 0 ] || failed=1
  summary_line "$target" "$status" | tee -a "$work/summary.txt"
done
exit "$failed"
