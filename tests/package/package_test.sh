#!/usr/bin/env bash
# The Debian package as a user meets it. Without root: the file name, the
# control fields (Depends found from the binaries), the contents, a man page for
# every program, lintian (no errors; each warning left explained in
# docs/packaging.md) and the AppStream metadata. As root, in addition: installs
# it with apt-get, starts the installed Tessaro_App_sim from the PATH in Xvfb and
# connects it (and runs `vesk3ctl --sim info` when the package has it), removes
# it and checks that none of its files are left, then purges its record.
# Usage: tests/package/package_test.sh [PACKAGE.deb]   (builds it with scripts/package.sh
#        when no package is given)
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
PACKAGE=tessaro-app
VERSION=$(sed -n 's/^project(Tessaro_App VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
TITLE_PATTERN='^Tessaro_App for Vesk-3'
# Window geometry at 96 DPI: the Connect button and the 240 x 320 mirror (as in scripts/run.sh).
CONNECT_CENTRE=(68 32)
CONNECT_BOX=118x36+9+14
MIRROR_BOX=240x320+15+106
WAIT_SECONDS=30

say() { printf 'package_test: %s\n' "$*"; }
fail() {
  printf 'package_test: FAIL: %s\n' "$*" >&2
  exit 1
}

# Polls a command until it succeeds, up to $1 seconds.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if ((SECONDS >= deadline)); then return 1; fi
    sleep 0.1
  done
}

WORK=$(mktemp -d)
XVFB_PID=""
APP_PID=""
INSTALLED_BY_US=0
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  if [ "$INSTALLED_BY_US" = 1 ] && dpkg_knows; then
    say "purging $PACKAGE after the failure"
    dpkg --purge "$PACKAGE" >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

dpkg_knows() {
  [ -n "$(dpkg-query -W -f='${db:Status-Status}' "$PACKAGE" 2>/dev/null)" ]
}
is_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$PACKAGE" 2>/dev/null)" = installed ]
}

# --- the package file ------------------------------------------------------

check_name() {
  local expected="${PACKAGE}_${VERSION}-1_amd64.deb"
  [ -n "$VERSION" ] || fail "no project version in CMakeLists.txt"
  [ "$(basename "$DEB")" = "$expected" ] || fail "package is named $(basename "$DEB"), not $expected"
}

check_fields() {
  local field expected actual
  while IFS='=' read -r field expected; do
    actual=$(dpkg-deb -f "$DEB" "$field")
    [ "$actual" = "$expected" ] || fail "field $field is '$actual', not '$expected'"
  done <<FIELDS
Package=$PACKAGE
Version=$VERSION-1
Architecture=amd64
Section=electronics
Priority=optional
FIELDS
  for field in Maintainer Homepage Description; do
    [ -n "$(dpkg-deb -f "$DEB" "$field")" ] || fail "field $field is empty"
  done
  # Depends comes from the libraries the binaries link: libftdi1 only Tessaro_App needs;
  # libpulse0 plays the beep.
  local depends
  depends=$(dpkg-deb -f "$DEB" Depends)
  for lib in libc6 libftdi1-2 libusb-1.0-0 libqt6widgets6 libpulse0; do
    [[ ",$depends" == *", $lib "* || ",$depends" == *",$lib "* ]] || fail "Depends lacks $lib: $depends"
  done
}

check_contents() {
  dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$WORK/contents"
  # Owned by root; folders 0755, files 0644, programs 0755, whatever the umask of the build.
  local odd
  odd=$(dpkg-deb -c "$DEB" | awk '$2 != "root/root" || ($1 != "drwxr-xr-x" && $1 != "-rw-r--r--" &&
    !($1 == "-rwxr-xr-x" && $6 ~ /^\.\/usr\/bin\//)) { print $1, $2, $6 }')
  [ -z "$odd" ] || fail "owners or modes out of line: $odd"
  local outside
  outside=$(grep -v -e '^/usr$' -e '^/usr/' "$WORK/contents" || true)
  [ -z "$outside" ] || fail "files outside /usr: $outside"
  local path
  for path in \
    /usr/bin/Tessaro_App /usr/bin/Tessaro_App_sim \
    /usr/lib/udev/rules.d/60-vesk3.rules \
    /usr/share/applications/tessaro_app.desktop /usr/share/applications/tessaro_app_sim.desktop \
    /usr/share/icons/hicolor/16x16/apps/tessaro_app.png \
    /usr/share/icons/hicolor/48x48/apps/tessaro_app.png \
    /usr/share/icons/hicolor/256x256/apps/tessaro_app.png \
    /usr/share/metainfo/org.example.Tessaro_App.metainfo.xml \
    /usr/share/doc/$PACKAGE/copyright /usr/share/doc/$PACKAGE/changelog.Debian.gz; do
    grep -qxF "$path" "$WORK/contents" || fail "the package lacks $path"
  done
  # Every program on the PATH comes with its man page.
  local program
  while read -r program; do
    grep -qxF "/usr/share/man/man1/${program}.1.gz" "$WORK/contents" ||
      fail "no man page for $program"
  done < <(sed -n 's|^/usr/bin/\([^/]*\)$|\1|p' "$WORK/contents")
}

check_lintian() {
  lintian --fail-on error "$DEB" >"$WORK/lintian" 2>&1 || {
    cat "$WORK/lintian"
    fail "lintian reports errors"
  }
  local tag
  for tag in $(sed -n 's/^W: [^ ]*: \([^ ]*\).*/\1/p' "$WORK/lintian" | sort -u); do
    grep -qF "\`$tag\`" docs/packaging.md ||
      fail "lintian warning $tag is not explained in docs/packaging.md"
  done
  say "lintian: no errors, $(grep -c '^W:' "$WORK/lintian" || true) warning(s), each explained"
}

check_appstream() {
  mkdir "$WORK/root"
  dpkg-deb -x "$DEB" "$WORK/root"
  local metainfo=$WORK/root/usr/share/metainfo/org.example.Tessaro_App.metainfo.xml
  appstreamcli validate --no-net "$metainfo" || fail "the AppStream metadata does not validate"
  grep -qF '<modalias>usb:v0403p6015*</modalias>' "$metainfo" ||
    fail "the AppStream metadata does not provide the bridge's modalias"
}

# --- installed, as a user would ------------------------------------------

install_package() {
  if is_installed; then
    say "$PACKAGE is installed already: removing it first"
    apt-get remove -y -qq "$PACKAGE"
  fi
  say "apt-get install $DEB"
  INSTALLED_BY_US=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$DEB" || fail "apt-get install failed"
  is_installed || fail "$PACKAGE is not installed after apt-get install"
  dpkg -L "$PACKAGE" >"$WORK/installed"
  local path
  while read -r path; do
    [ -e "$path" ] || fail "dpkg -L lists $path, which is not there"
  done <"$WORK/installed"
  grep -qxF /usr/lib/udev/rules.d/60-vesk3.rules "$WORK/installed" || fail "no udev rule installed"
}

# The installed simulator, found on the PATH, opens its window, finds the
# simulated device, connects and mirrors it.
run_installed_simulator() {
  local program
  program=$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v Tessaro_App_sim) ||
    fail "Tessaro_App_sim is not on the PATH"
  [ "$program" = /usr/bin/Tessaro_App_sim ] || fail "Tessaro_App_sim on the PATH is $program"

  Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$WORK/display" \
    >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  wait_until 10 test -s "$WORK/display" || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$WORK/display")"
  mkdir -m 700 "$WORK/runtime"
  export XDG_RUNTIME_DIR="$WORK/runtime"

  env PATH=/usr/bin:/bin QT_QPA_PLATFORM=xcb Tessaro_App_sim >"$WORK/app.log" 2>&1 &
  APP_PID=$!
  window_id() { xdotool search --onlyvisible --name "$TITLE_PATTERN" 2>/dev/null | head -n1; }
  has_window() { [ -n "$(window_id)" ]; }
  wait_until "$WAIT_SECONDS" has_window || {
    cat "$WORK/app.log"
    fail "the installed Tessaro_App_sim opened no window"
  }
  [ "$(readlink "/proc/$APP_PID/exe")" = /usr/bin/Tessaro_App_sim ] ||
    fail "the window is not the installed program's"
  local window
  window=$(window_id)
  capture() { import -window "$window" "$WORK/now.png"; }
  # Connect is enabled once its caption is drawn in black; the mirror lives once it is not black.
  connect_enabled() {
    capture && [ "$(convert "$WORK/now.png" -crop "$CONNECT_BOX" +repage -colorspace Gray \
      -format '%[fx:minima<0.3]' info:)" = 1 ]
  }
  mirroring() {
    capture && [ "$(convert "$WORK/now.png" -crop "$MIRROR_BOX" +repage \
      -format '%[fx:maxima>0]' info:)" = 1 ]
  }
  wait_until "$WAIT_SECONDS" connect_enabled || fail "the installed program found no device"
  xdotool mousemove --window "$window" "${CONNECT_CENTRE[@]}" click 1
  wait_until "$WAIT_SECONDS" mirroring || {
    cat "$WORK/app.log"
    fail "the installed program did not mirror the simulated device"
  }
  say "the installed Tessaro_App_sim opened, connected and mirrors"
  kill "$APP_PID"
  wait "$APP_PID" 2>/dev/null || true
  APP_PID=""
  kill "$XVFB_PID"
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=""
}

run_installed_ctl() {
  [ -x /usr/bin/vesk3ctl ] || return 0
  env PATH=/usr/bin:/bin vesk3ctl --sim info >"$WORK/ctl.log" 2>&1 || {
    cat "$WORK/ctl.log"
    fail "vesk3ctl --sim info failed"
  }
  say "the installed vesk3ctl --sim info works"
}

remove_package() {
  say "apt-get remove $PACKAGE"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "$PACKAGE" || fail "apt-get remove failed"
  is_installed && fail "$PACKAGE is still installed"
  # Everything the package brought is gone: its files, and the folders only it used.
  local path left=()
  while read -r path; do
    if [ -e "$path" ] && ! [ -d "$path" ]; then left+=("$path"); fi
  done <"$WORK/installed"
  [ -d "/usr/share/doc/$PACKAGE" ] && left+=("/usr/share/doc/$PACKAGE")
  [ ${#left[@]} -eq 0 ] || fail "left behind after apt-get remove: ${left[*]}"
  # dpkg keeps the record of a removed package that has a postrm until it is
  # purged: purge it, so the machine is as it was.
  dpkg --purge "$PACKAGE" >/dev/null || fail "dpkg --purge failed"
  ! dpkg_knows || fail "dpkg still knows $PACKAGE after the purge"
  INSTALLED_BY_US=0
}

# --- the run ----------------------------------------------------------------

if [ $# -ge 1 ]; then
  DEB=$(realpath "$1")
else
  DEB=$(scripts/package.sh | tail -n1)
fi
[ -f "$DEB" ] || fail "no package at $DEB"
say "checking $DEB"

check_name
check_fields
check_contents
check_lintian
check_appstream
say "the package file is sound"

if [ "$(id -u)" -ne 0 ]; then
  say "SKIP installing the package: needs root for apt-get (run as root to test install and removal)"
  exit 0
fi
install_package
run_installed_simulator
run_installed_ctl
remove_package
say "installed, ran and removed cleanly: PASS"
