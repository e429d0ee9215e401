#!/usr/bin/env bash
# Builds the Debian package build-package/tessaro-app_<version>-1_amd64.deb:
# a Release build with Debian's hardening flags, installed under /usr and
# packed by CPack. Prints the package's path on the last line.
# Usage: scripts/package.sh        (BUILD_DIR=... for another build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}
BUILD=${BUILD_DIR:-$ROOT/build-package}

say() { printf 'package: %s\n' "$*" >&2; }

say "installing what is missing"
scripts/install-deps.sh >&2

LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# The flags every Debian package is built with (fortified functions, stack
# protector, read-only relocations bound at start), on top of the Release
# optimisation.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
CFLAGS=$(dpkg-buildflags --get CFLAGS)
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)

say "building (Release, $BUILD)"
cmake -G Ninja -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVESK3_UDEV_RULES_DIR=lib/udev/rules.d \
  -DVESK3_TESTS=OFF -DVESK3_BENCH=OFF -DVESK3_FUZZ=OFF -DVESK3_SANITIZE=OFF \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" "${LAUNCHER[@]}" >&2
cmake --build "$BUILD" -j"$JOBS" >&2

say "packing"
rm -f "$BUILD"/*.deb
cmake --build "$BUILD" --target package >&2

shopt -s nullglob
debs=("$BUILD"/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  say "expected one .deb in $BUILD, found ${#debs[@]}"
  exit 1
fi
chmod 0644 "${debs[0]}" # readable by apt's download user whatever the umask
say "built ${debs[0]}"
echo "${debs[0]}"
