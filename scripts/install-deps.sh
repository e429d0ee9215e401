#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test, benchmark, fuzz and package.
# Safe to run twice: apt-get only installs what is missing. Run as root (or with sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git python3
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libftdi1-dev libusb-1.0-0-dev
  pybind11-dev python3-dev python3-numpy python3-pytest
  libpng-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libpulse-dev pulseaudio-utils
  umockdev libumockdev-dev
  xvfb xdotool xclip x11-utils imagemagick
  fonts-liberation
  dpkg-dev lintian appstream gzip
)

# The beep's test starts a PulseAudio server of its own. A desktop that runs
# PipeWire's PulseAudio service keeps it: installing the PulseAudio server
# there would compete for the user's sound socket (the test then skips).
if ! dpkg-query -W -f='${Status}' pipewire-pulse 2>/dev/null | grep -q "install ok installed"; then
  PACKAGES+=(pulseaudio)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
