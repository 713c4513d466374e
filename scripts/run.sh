#!/usr/bin/env bash
# Builds BVX.exe and runs it under Wine, with a simulated optical drive D:
# (a folder declared as a CD-ROM drive).
#
#   scripts/run.sh
#
# On the display in $DISPLAY when there is one; otherwise on an Xvfb display of
# its own, inside a Wine virtual desktop, with a screenshot and directions for
# looking at it. The Wine prefix, the drive folder and the program's folder
# (with its settings file BVX.ini, kept between runs) live under
# $BVX_RUN_DIR (default ~/.cache/brimvex-wine).
set -euo pipefail

cd "$(dirname "$0")/.."
repo="$(pwd)"

bash scripts/install-deps.sh
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

# --- build --------------------------------------------------------------------
# The shipped program is the 32-bit build/win32/BVX.exe. This machine's Wine
# runs the exe of its own arch: i686 where 32-bit code runs, x86_64 otherwise.
if [ "$BVX_WINE_ARCH" = "x86_64" ]; then preset=win64; else preset=win32; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
exe="$repo/build/$preset/BVX.exe"
echo
echo "Running $exe"
if [ "$preset" != "win32" ]; then
  echo "(the shipped 32-bit program is build/win32/BVX.exe: cmake --preset win32 &&"
  echo " cmake --build --preset win32; this machine's Wine cannot run 32-bit code)"
fi

# --- prefix with the optical drive D: -----------------------------------------
run_dir="${BVX_RUN_DIR:-$HOME/.cache/brimvex-wine}"
export WINEPREFIX="$run_dir/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
drive_d="$run_dir/drive-d"
app_dir="$run_dir/app"
mkdir -p "$drive_d" "$app_dir"

xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    # Only what this script started: the prefix's own Wine processes, then
    # its Xvfb, by PID.
    "$BVX_WINESERVER" -k 2>/dev/null || true
    "$BVX_WINESERVER" -w 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 70 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$run_dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      break
    fi
    xvfb_pid=""
  done
  if [ -z "${DISPLAY:-}" ]; then
    echo "run.sh: could not start Xvfb" >&2
    exit 1
  fi
  echo "No \$DISPLAY: started Xvfb on $DISPLAY (pid $xvfb_pid)"
fi

if [ ! -f "$WINEPREFIX/.bvx-run-prefix" ]; then
  echo "Making the Wine prefix $WINEPREFIX (once, about 15 s)"
  "$BVX_WINE" wineboot -i >/dev/null 2>&1
  "$BVX_WINE" reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1
  "$BVX_WINESERVER" -w
  touch "$WINEPREFIX/.bvx-run-prefix"
fi
ln -sfn "$drive_d" "$WINEPREFIX/dosdevices/d:"
echo "Drive D: is the CD-ROM drive $drive_d"

cp "$exe" "$app_dir/BVX.exe"
echo "Settings file: $app_dir/BVX.ini"

if [ -n "$xvfb_pid" ]; then
  # No window manager here: a Wine virtual desktop gives the windows frames
  # and the tray a taskbar.
  "$BVX_WINE" explorer /desktop=bvx,1280x800 "$app_dir/BVX.exe" &
  wine_pid=$!
  for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"bvx.exe"' && break
    sleep 0.2
  done
  shot="$run_dir/screen.png"
  sleep 1  # let the desktop draw the tray icon
  import -window root "$shot" && echo "Screenshot: $shot"
  cat <<EOF

BVX.exe runs on the virtual display $DISPLAY. To look at it:
  import -display $DISPLAY -window root shot.png     (a screenshot)
  x11vnc -display $DISPLAY -localhost               (then a VNC viewer on :5900)
To drive it, e.g. right-click the tray icon (bottom right of the desktop):
  DISPLAY=$DISPLAY xdotool mousemove 1270 790 click 3
Ctrl+C ends it.
EOF
  wait "$wine_pid"
else
  echo "BVX.exe runs on $DISPLAY: its icon is in the notification area."
  "$BVX_WINE" "$app_dir/BVX.exe"
fi
