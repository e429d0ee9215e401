#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for the given number of seconds, one after the
# other on one core, starting from a copy of its seed corpus in fuzz/corpus/.
# Prints per target the executions and the crashes; exits non-zero when any
# target crashed (the crashing input is kept under build-fuzz/artifacts/).
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 30 s, all targets)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-30}
shift || true
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
ALL_TARGETS=(fuzz_command_exchange fuzz_descriptor_table fuzz_display_frame fuzz_device_info
  fuzz_color_read)
TARGETS=("${ALL_TARGETS[@]}")
if [ $# -gt 0 ]; then TARGETS=("$@"); fi

LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -G Ninja -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" \
  -DVESK3_FUZZ=ON -DVESK3_PANEL=OFF -DVESK3_HARDWARE=OFF -DVESK3_BENCH=OFF -DVESK3_TESTS=ON \
  >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}" --target fuzzers

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=0
summary=()
for target in "${TARGETS[@]}"; do
  corpus="$BUILD/corpus-run/$target"
  artifacts="$BUILD/artifacts/$target"
  log="$BUILD/fuzz-$target.log"
  rm -rf "$corpus" "$artifacts" && mkdir -p "$corpus" "$artifacts"
  if [ -d "fuzz/corpus/$target" ]; then cp -r "fuzz/corpus/$target/." "$corpus/"; fi
  seeds=$(find "$corpus" -type f | wc -l)

  status=0
  # -timeout: one input that runs longer than 10 s counts as a hang (a crash).
  "$BUILD/fuzz/$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=4096 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" \
    >"$log" 2>&1 || status=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(find "$artifacts" -type f | wc -l)
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
  line=$(printf '%-24s %3d seeds  %10s executions  %d crashes  %d s' "$target" "$seeds" \
    "${execs:-?}" "$crashes" "$SECONDS_EACH")
  summary+=("$line")
  echo "$line"
  if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    failed=1
    echo "--- $target failed (exit $status); the end of its log ($log):"
    tail -40 "$log"
  fi
done

echo
echo "fuzz summary:"
printf '  %s\n' "${summary[@]}"
exit "$failed"
