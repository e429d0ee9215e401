#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then a
# short run of each benchmark and each fuzzer so they keep working, and last
# the Debian package: built, checked, installed, run and removed.
# Usage: scripts/test.sh            (as root on a fresh Debian 12 machine, or with sudo rights)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}

step() { printf '\n=== %s ===\n' "$*"; }

step "install packages"
scripts/install-deps.sh

step "normal build"
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$JOBS"

step "tests (normal build)"
ctest --test-dir build --output-on-failure -j"$JOBS"

step "sanitizer build (ASan + UBSan)"
cmake -G Ninja -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK3_SANITIZE=ON -DVESK3_BENCH=OFF >/dev/null
cmake --build build-asan -j"$JOBS"

step "tests (sanitizer build)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
ctest --test-dir build-asan --output-on-failure -j"$JOBS"
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

if [ -x scripts/bench-smoke.sh ]; then
  step "benchmarks (one brief run each, no timing asserted)"
  scripts/bench-smoke.sh build
fi

if [ -x scripts/fuzz.sh ]; then
  step "fuzzers (${FUZZ_SECONDS:-30} s each)"
  scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi

step "Debian package (Release build, lintian, install, run and remove)"
tests/package/package_test.sh

step "all tests passed"
