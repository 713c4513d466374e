#!/usr/bin/env bash
# Builds BVX.exe and runs it under Wine with an optical drive D:.
#
#   scripts/run.sh                    D: is simulated: a folder declared as a
#                                     CD-ROM drive (no disc, the door commands
#                                     go to Wine's MCI and fail as an empty
#                                     drive's do)
#   scripts/run.sh --drive /dev/sr0   D: is this machine's optical drive: the
#                                     door really moves
#
# The terminal shows every command the program sends to a drive, as it sends
# it (from Wine's MCI trace), e.g. "D: Set cdaudio!d: door open wait" after a
# left double-click on the tray icon.
#
# The BVX.exe is the shipped build/win32/BVX.exe wherever Wine runs 32-bit
# code, else the x86_64 build of the same sources (scripts/wine-env.sh). It
# runs on the display in $DISPLAY when there is one; otherwise on an Xvfb
# display of its own, inside a Wine virtual desktop, with a screenshot and
# directions for looking at it. The Wine prefix, the drive folder and the
# program's folder (with its settings file BVX.ini, kept between runs) live
# under $BVX_RUN_DIR (default ~/.cache/brimvex-wine). Ctrl+C ends it.
set -euo pipefail

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
}
fail() {
  echo "run.sh: $*" >&2
  echo "Usage: scripts/run.sh [--drive DEVICE]   (scripts/run.sh --help)" >&2
  exit 2
}

device=""
while [ $# -gt 0 ]; do
  case "$1" in
    --drive)
      if [ $# -lt 2 ] || [ -z "$2" ]; then fail "--drive needs a device, e.g. --drive /dev/sr0"; fi
      device="$2"
      shift 2
      ;;
    --drive=*)
      device="${1#--drive=}"
      [ -n "$device" ] || fail "--drive needs a device, e.g. --drive /dev/sr0"
      shift
      ;;
    -h | --help)
      usage
      exit 0
      ;;
    *) fail "unknown argument '$1'" ;;
  esac
done

mounted_at=""
if [ -n "$device" ]; then
  [ -e "$device" ] || fail "--drive $device: no such device"
  real_device="$(readlink -f "$device")"
  [ -b "$real_device" ] || fail "--drive $device: not a block device (an optical drive is, e.g. /dev/sr0)"
  # The kernel drives every optical drive (ATAPI, SATA, USB) as a SCSI
  # device of type 5.
  sys_type="/sys/class/block/$(basename "$real_device")/device/type"
  if [ "$(cat "$sys_type" 2>/dev/null)" != 5 ]; then
    fail "--drive $device: not an optical drive (the kernel does not list it as one: $sys_type)"
  fi
  [ -r "$real_device" ] || fail "--drive $device: no read access; Wine needs it to move the door" \
    "(add yourself to the group $(stat -c %G "$real_device"), then log in again)"
  mounted_at="$(findmnt -rn -S "$real_device" -o TARGET 2>/dev/null | head -n 1 || true)"
fi

cd "$(dirname "$0")/.."
repo="$(pwd)"

bash scripts/install-deps.sh
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

# --- build --------------------------------------------------------------------
preset="$BVX_EXE_PRESET"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
exe="$repo/build/$preset/BVX.exe"
echo
echo "Running $exe"
if [ "$preset" != "win32" ]; then
  echo "(this machine's Wine cannot run 32-bit code: the x86_64 build of the same sources;"
  echo " the shipped 32-bit program is build/win32/BVX.exe: cmake --preset win32 &&"
  echo " cmake --build --preset win32)"
fi

# --- prefix with the optical drive D: -----------------------------------------
run_dir="${BVX_RUN_DIR:-$HOME/.cache/brimvex-wine}"
export WINEPREFIX="$run_dir/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
drive_d="$run_dir/drive-d"
app_dir="$run_dir/app"
log="$run_dir/bvx.log"
mkdir -p "$drive_d" "$app_dir"

xvfb_pid=""
bvx_pid=""
trace_pid=""
cleanup() {
  # Only what this script started: the Wine processes of its own prefix,
  # the trace filter and its Xvfb, by PID.
  if [ -n "$bvx_pid" ]; then
    "$BVX_WINESERVER" -k 2>/dev/null || true
    "$BVX_WINESERVER" -w 2>/dev/null || true
  fi
  if [ -n "$trace_pid" ]; then kill "$trace_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

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
  echo "Making the Wine prefix $WINEPREFIX (once, about 15-30 s)"
  "$BVX_WINE64" wineboot -i >/dev/null 2>&1
  touch "$WINEPREFIX/.bvx-run-prefix"
fi
# Every run: the drive type, and a virtual desktop only on a display of our
# own. The 64-bit registry view is the one Wine's mount manager and desktop
# read (a 32-bit reg.exe would write under Wow6432Node without /reg:64).
reg_add() {
  "$BVX_WINE64" reg add "$@" /f /reg:64 >/dev/null 2>&1 ||
    { echo "run.sh: reg add $* /f /reg:64 failed in $WINEPREFIX" >&2; exit 1; }
}
reg_add 'HKLM\Software\Wine\Drives' /v d: /d cdrom
if [ -n "$xvfb_pid" ]; then
  # No window manager here: the virtual desktop gives the windows frames
  # and the tray a taskbar.
  reg_add 'HKCU\Software\Wine\Explorer' /v Desktop /d bvx
  reg_add 'HKCU\Software\Wine\Explorer\Desktops' /v bvx /d 1280x800
else
  "$BVX_WINE64" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f /reg:64 >/dev/null 2>&1 || true
fi
# The mount manager reads the drive types when the Wine session starts.
"$BVX_WINESERVER" -w

rm -f "$WINEPREFIX/dosdevices/d::"
if [ -n "$device" ]; then
  # d:: is the device Wine opens for the drive's door; d: its files.
  ln -sfn "$device" "$WINEPREFIX/dosdevices/d::"
  ln -sfn "${mounted_at:-$drive_d}" "$WINEPREFIX/dosdevices/d:"
  echo "Drive D: is the optical drive $device"
  if [ -n "$mounted_at" ]; then
    echo "run.sh: $device is mounted at $mounted_at: the kernel keeps a mounted drive's door" >&2
    echo "        shut. Unmount it first (umount $mounted_at) for the door to move." >&2
  fi
else
  ln -sfn "$drive_d" "$WINEPREFIX/dosdevices/d:"
  echo "Drive D: is a simulated CD-ROM drive (the folder $drive_d)"
fi

cp "$exe" "$app_dir/BVX.exe"
echo "Settings file: $app_dir/BVX.ini"

# --- run ------------------------------------------------------------------------
# The program's stderr (Wine's +mci trace) goes to a file, never to a pipe:
# the processes Wine starts on the side would inherit a pipe and hold it open.
# A line-buffered filter shows each command string as it is sent; Wine's own
# "open" before a command is left out.
: >"$log"
WINEDEBUG="$WINEDEBUG,+mci" "$BVX_WINE" "$app_dir/BVX.exe" </dev/null >/dev/null 2>"$log" &
bvx_pid=$!
tail -n +1 -F --pid="$bvx_pid" "$log" 2>/dev/null |
  sed -u -n -e '/trace:mci:mciSendStringW (L"open /d' \
    -e 's/.*trace:mci:mciSendStringW (L"\([^"]*\)".*/\1/' -e 'T' \
    -e 's/^\(.*!\([a-zA-Z]\):.*\)$/\U\2\E: \1/p' &
trace_pid=$!

# BVX.exe asks every optical drive it found for its disc at start-up.
for _ in $(seq 150); do
  grep -q 'mciSendStringW (L"[^"]*cdaudio!d:' "$log" && break
  kill -0 "$bvx_pid" 2>/dev/null || break
  sleep 0.2
done
if ! grep -q 'mciSendStringW (L"[^"]*cdaudio!d:' "$log"; then
  echo "run.sh: BVX.exe has not turned to drive D: (no MCI command for it); its log: $log" >&2
fi

if [ -n "$xvfb_pid" ]; then
  shot="$run_dir/screen.png"
  sleep 1  # let the desktop draw the tray icon
  import -window root "$shot" && echo "Screenshot: $shot"
  cat <<EOF

BVX.exe runs on the virtual display $DISPLAY. To look at it:
  import -display $DISPLAY -window root shot.png     (a screenshot)
  x11vnc -display $DISPLAY -localhost               (then a VNC viewer on :5900)
To drive it, e.g. double-click the tray icon (bottom right of the desktop) to
open D:'s door, or right-click it for the menu:
  DISPLAY=$DISPLAY xdotool mousemove 1270 790 click --repeat 2 1
  DISPLAY=$DISPLAY xdotool mousemove 1270 790 click 3
EOF
else
  echo "BVX.exe runs on $DISPLAY: its icon is in the notification area."
fi
echo "The commands it sends to the drives (the whole trace: $log); Ctrl+C ends it:"
code=0
wait "$bvx_pid" || code=$?
wait "$trace_pid" 2>/dev/null || true
trace_pid=""
echo "BVX.exe ended (exit code $code)."
exit "$code"
