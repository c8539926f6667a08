#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz/ (or
# $TARAL_FUZZ_BUILD_DIR) and runs each for a bounded time. Fails on a finding.
#
#   bash scripts/fuzz.sh          # 60 s per harness
#   bash scripts/fuzz.sh 600      # 600 s per harness
#   FUZZ_SECONDS=600 bash scripts/fuzz.sh
#   FUZZ_TARGETS=fuzz_client_input bash scripts/fuzz.sh
#
# New inputs found go to <build dir>/corpus/<harness>/ (kept between runs; the
# committed seeds in fuzz/corpus/ are only read). A crashing input is written to
# <build dir>/artifacts/ and named in the output; replay it with
#   <build dir>/fuzz/<harness> <input>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-60}}
targets=${FUZZ_TARGETS:-"fuzz_bus_stream fuzz_client_input"}
build_dir=${TARAL_FUZZ_BUILD_DIR:-build-fuzz}

TARAL_SETUP_EXTRA="${TARAL_SETUP_EXTRA:-} clang libclang-rt-14-dev" bash scripts/setup.sh

mkdir -p "$build_dir"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DTARAL_FUZZ=ON -DTARAL_TESTS=OFF -DTARAL_BENCH=OFF \
  >"$build_dir/configure.log" 2>&1 || { cat "$build_dir/configure.log"; exit 1; }
read -r -a target_list <<<"$targets"
cmake --build "$build_dir" -j2 --target "${target_list[@]}"

# Longest input per harness: a bus stream of about sixty data frames; client
# input long enough to hold lines past the reader's 1024-byte bound.
max_len_of() {
  case "$1" in
    fuzz_bus_stream) echo 4096 ;;
    fuzz_client_input) echo 4096 ;;
    *) echo 4096 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
summary=()
for target in "${target_list[@]}"; do
  name=${target#fuzz_}
  corpus="$build_dir/corpus/$name"
  artifacts="$build_dir/artifacts/$name"
  log="$build_dir/$target.log"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: ${seconds} s"
  set +e
  "$build_dir/fuzz/$target" "$corpus" "fuzz/corpus/$name" \
    -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  elapsed=$(sed -n 's/.*Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$log" | tail -1)
  if [ "$rc" -ne 0 ]; then
    status=1
    echo "!! $target found a problem (exit $rc):"
    tail -60 "$log"
    ls -l "$artifacts"
    summary+=("$target: FAILED (exit $rc), see $log and $artifacts/")
  else
    rate=0
    [ -n "$runs" ] && [ -n "$elapsed" ] && [ "$elapsed" -gt 0 ] && rate=$((runs / elapsed))
    summary+=("$target: ${runs:-?} runs in ${elapsed:-?} s = $rate exec/s; $cov; no finding")
  fi
done

echo "== fuzz summary (${seconds} s per harness, $(nproc) cores)"
printf '%s\n' "${summary[@]}"
exit $status
