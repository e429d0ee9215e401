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

# Every build goes through ccache where it is installed.
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

step "normal build"
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" >/dev/null
cmake --build build -j"$JOBS"

step "tests (normal build)"
ctest --test-dir build --output-on-failure -j"$JOBS"

# A parent project that does nothing but add_subdirectory() on this repository,
# with default options, must configure and build the core. Only vesk3_core is
# built, in a scratch folder, through ccache where it is installed.
step "as a subproject (vesk3_core)"
PARENT=$(mktemp -d)
trap 'rm -rf "$PARENT"' EXIT
cat >"$PARENT/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(vesk3_parent LANGUAGES C CXX)
add_subdirectory("$ROOT" tessaro_app)
CMAKE
cmake -G Ninja -S "$PARENT" -B "$PARENT/build" -DCMAKE_BUILD_TYPE=Release "${LAUNCHER[@]}" >/dev/null
cmake --build "$PARENT/build" --target vesk3_core -j"$JOBS"

step "sanitizer build (ASan + UBSan)"
cmake -G Ninja -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK3_SANITIZE=ON -DVESK3_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
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
