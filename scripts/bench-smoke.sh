#!/usr/bin/env bash
# Runs every benchmark once, briefly, so the suite keeps working. Asserts no
# timing: it fails only when a benchmark cannot run or reports an error (a
# wrong decode, a mirror that differs from the device, a failed refresh).
# Usage: scripts/bench-smoke.sh BUILD_DIR     (a build with VESK3_BENCH=ON)
set -euo pipefail
BUILD=${1:?usage: scripts/bench-smoke.sh BUILD_DIR}
BENCH="$BUILD/bench"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

run_benchmark() {
  local program=$1
  shift
  if [ ! -x "$BENCH/$program" ]; then
    echo "bench-smoke: $BENCH/$program was not built" >&2
    exit 1
  fi
  echo "bench-smoke: $program $*"
  "$BENCH/$program" --benchmark_min_time=0.01 --benchmark_format=json "$@" >"$OUT/$program.json"
  if grep -q '"error_occurred": true' "$OUT/$program.json"; then
    grep -B2 -A2 '"error_message"' "$OUT/$program.json" >&2
    exit 1
  fi
  grep -c '"name"' "$OUT/$program.json" | sed 's/^/  benchmarks run: /'
}

run_benchmark vesk3_bench_decode

if [ -x "$BENCH/vesk3_bench_link" ]; then
  run_benchmark vesk3_bench_link
  echo "bench-smoke: vesk3_mirror_cpu (one second each)"
  "$BENCH/vesk3_mirror_cpu" --seconds 1 --scene square | tee "$OUT/mirror.json"
  grep -q '"mirrors_device":true' "$OUT/mirror.json"
  "$BENCH/vesk3_mirror_cpu" --seconds 1 --scene ui --bulk streamed | tee "$OUT/mirror.json"
  grep -q '"mirrors_device":true' "$OUT/mirror.json"
  "$BENCH/vesk3_mirror_cpu" --idle --seconds 1 --bus sim
fi
if [ -x "$BENCH/vesk3_bench_ctl" ]; then
  run_benchmark vesk3_bench_ctl --benchmark_filter=Screenshot
fi
echo "bench-smoke: all benchmarks ran"
