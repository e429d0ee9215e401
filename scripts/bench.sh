#!/usr/bin/env bash
# The whole benchmark suite of the mirror path, in a Release build, then the
# table of bench/README.md printed from this one run.
# Usage: scripts/bench.sh [BUILD_DIR] [SECONDS]
#   BUILD_DIR  Release build to use or make (default build-bench)
#   SECONDS    length of each real-time mirroring run (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-bench}
SECONDS_PER_RUN=${2:-60}
RESULTS="$BUILD/bench-results"
JOBS=${JOBS:-2}

cmake -G Ninja -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DVESK3_BENCH=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target vesk3_bench_decode vesk3_bench_link vesk3_mirror_cpu \
  vesk3_bench_ctl Tessaro_App_sim
mkdir -p "$RESULTS"
B="$BUILD/bench"

echo "== decoder and frame view (5 repetitions, medians)"
"$B/vesk3_bench_decode" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.5 --benchmark_out="$RESULTS/decode.json" --benchmark_out_format=json

echo "== end to end over the simulated bridge in real time, presence poll"
"$B/vesk3_bench_link" --benchmark_min_time=3 --benchmark_out="$RESULTS/link.json" \
  --benchmark_out_format=json

echo "== vesk3ctl: screenshot start to file against its bound, record's refresh rate beside the window's"
"$B/vesk3_bench_ctl" --benchmark_out="$RESULTS/ctl.json" --benchmark_out_format=json

echo "== vesk3 (Python): 50 steps of press plus expect in one session against 50 vesk3ctl calls"
cmake --build "$BUILD" -j"$JOBS" --target vesk3_python vesk3ctl
/usr/bin/python3 bench/python_steps.py "$BUILD" 50 | tee "$RESULTS/python.json"

echo "== refresh period and CPU share (${SECONDS_PER_RUN} s per run)"
: >"$RESULTS/mirror.jsonl"
for scene in ui square; do
  for bulk in segments streamed; do
    "$B/vesk3_mirror_cpu" --seconds "$SECONDS_PER_RUN" --scene "$scene" --bulk "$bulk" \
      | tee -a "$RESULTS/mirror.jsonl"
  done
done
"$B/vesk3_mirror_cpu" --seconds 10 --scene noise --bulk streamed | tee -a "$RESULTS/mirror.jsonl"
# Through the real libftdi1 stack on the emulated FT230X (needs the hardware tests' emulator).
if cmake --build "$BUILD" -j"$JOBS" --target vesk3_mirror_emulated vesk3_ft230x_emulator >/dev/null; then
  for padding in on off; do
    "$BUILD/tests/hardware/vesk3_ft230x_emulator" "$B/vesk3_mirror_emulated" --seconds 20 \
      --bulk streamed --padding "$padding" | tee -a "$RESULTS/mirror.jsonl" || true
  done
fi
for bus in none sim hardware; do
  "$B/vesk3_mirror_cpu" --idle --seconds 30 --bus "$bus" | tee -a "$RESULTS/mirror.jsonl" || true
done

if [ -x "$BUILD/programs/Tessaro_App_sim" ] && command -v Xvfb >/dev/null; then
  echo "== the whole program under Xvfb"
  bench/program_cpu.py "$BUILD/programs/Tessaro_App_sim" "$SECONDS_PER_RUN" >"$RESULTS/program.jsonl" || true
fi

echo
bench/report.py "$RESULTS"
