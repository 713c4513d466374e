# shellcheck shell=bash
# Source this file (bash): exports how to run Windows programs under Wine.
#
#   BVX_WINE_MODE   wine32: Wine runs 32-bit x86 code here, so the program
#                   under test is the shipped build/win32/BVX.exe;
#                   wine64: it does not (the CPU or kernel cannot run 32-bit
#                   code, or the 32-bit Wine is missing or broken), so it is
#                   the x86_64 build of the same sources, build/win64/BVX.exe.
#                   Set it beforehand to force a mode.
#   BVX_EXE_PRESET  win32 or win64: the CMake preset of that BVX.exe
#   BVX_WINE_ARCH   the MinGW target of the programs under test: i686 or x86_64
#   BVX_WINE_CAN_RUN_32BIT  1 or 0
#   BVX_WINE        the loader for the program under test (and for other
#                   programs built for BVX_WINE_ARCH): "$BVX_WINE BVX.exe"
#   BVX_WINE64      the 64-bit loader, the same on every host. Wine's own
#                   tools and the test driver (an x86_64 program) run with it:
#                   "$BVX_WINE64 wineboot -i", "$BVX_WINE64 reg add ... /reg:64"
#   BVX_WINESERVER  the wineserver ("$BVX_WINESERVER -w", "-k")
#
# WINEPREFIX, DISPLAY and WINEDEBUG are left to the caller; WINEDLLOVERRIDES
# defaults to skipping the Mono/Gecko installers. scripts/install-deps.sh
# installs Wine and MinGW-w64 first.
#
# The mode comes from what runs, not from a loader's --version: an i686
# probe program (scripts/wine-probe.c) is started with the 32-bit loader in
# a throw-away prefix, under a time limit, and only its own exit code (32)
# means wine32. The answer is kept in build/wine-mode/ until the kernel, the
# loaders or the probe change. A wine32 prefix is a 64-bit one in which
# 32-bit programs are WoW64 processes: that is why the prefix is always set
# up through the 64-bit registry view and why programs that read Wine's own
# (64-bit) processes must be x86_64 ones.
#
# On hosts that cannot run 32-bit code (measured, Wine 8.0): the 32-bit
# loader fails with "Exec format error"; Wine 8's experimental wow64 mode
# (wine64 starting an i386 exe) dies right after loading
# syswow64\ntdll.dll, because any far transfer to a 32-bit code segment
# raises SIGSEGV there; and qemu-user-static 7.2 spends 50-90 s reserving
# address space and then fails ("failed to map the shared user data").
#
# BVX_WINE_DIR (default /usr/lib/wine, as Debian and Ubuntu install it),
# BVX_WINE_CACHE and BVX_WINE_PROBE_TIMEOUT (seconds, default 180) can be
# set beforehand.

_bvx_wine_dir="${BVX_WINE_DIR:-/usr/lib/wine}"
_bvx_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BVX_WINE64="$_bvx_wine_dir/wine64"
BVX_WINESERVER="$_bvx_wine_dir/wineserver64"
[ -x "$BVX_WINESERVER" ] || BVX_WINESERVER="$_bvx_wine_dir/wineserver32"

# Returns 0 when an i686 program runs under the 32-bit loader and returns
# its own exit code. Never hangs: the run has a time limit, and the probe's
# prefix (with any Wine process left in it) is removed afterwards.
_bvx_probe_wine32() {
  local loader="$_bvx_wine_dir/wine" source="$_bvx_repo/scripts/wine-probe.c"
  local probe="$1/probe.exe" scratch code=0
  [ -x "$loader" ] || return 1
  if ! command -v i686-w64-mingw32-gcc >/dev/null; then
    echo "wine-env.sh: no i686-w64-mingw32-gcc to build the probe with; taking wine64 mode" >&2
    return 1
  fi
  if [ ! -f "$probe" ] || [ "$source" -nt "$probe" ]; then
    i686-w64-mingw32-gcc -O2 -s -o "$probe.$$" "$source" && mv -f "$probe.$$" "$probe" || return 1
  fi
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/bvx-wine-probe.XXXXXX")" || return 1
  env -u DISPLAY -u WINELOADER WINEPREFIX="$scratch/prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" \
    timeout -k 5 "${BVX_WINE_PROBE_TIMEOUT:-180}" "$loader" "$probe" \
    </dev/null >/dev/null 2>&1 || code=$?
  if [ -e "$scratch/prefix" ]; then
    WINEPREFIX="$scratch/prefix" timeout -k 5 30 "$BVX_WINESERVER" -k >/dev/null 2>&1 || true
    WINEPREFIX="$scratch/prefix" timeout -k 5 30 "$BVX_WINESERVER" -w >/dev/null 2>&1 || true
  fi
  rm -rf "$scratch"
  [ "$code" -eq 32 ]
}

if [ "${BVX_WINE_MODE:-}" != wine32 ] && [ "${BVX_WINE_MODE:-}" != wine64 ]; then
  if [ -n "${BVX_WINE_MODE:-}" ]; then
    echo "wine-env.sh: BVX_WINE_MODE='$BVX_WINE_MODE' is neither wine32 nor wine64; probing" >&2
  fi
  _bvx_cache="${BVX_WINE_CACHE:-$_bvx_repo/build/wine-mode}"
  _bvx_key="$(uname -srm) $(stat -L -c '%n %s %Y' "$_bvx_wine_dir/wine" "$_bvx_wine_dir/wine64" \
    2>/dev/null | tr '\n' ' ')$(cksum <"$_bvx_repo/scripts/wine-probe.c")"
  BVX_WINE_MODE=""
  if [ -f "$_bvx_cache/mode" ] && [ "$(head -n 1 "$_bvx_cache/mode")" = "$_bvx_key" ]; then
    BVX_WINE_MODE="$(sed -n 2p "$_bvx_cache/mode")"
  fi
  if [ "$BVX_WINE_MODE" != wine32 ] && [ "$BVX_WINE_MODE" != wine64 ]; then
    mkdir -p "$_bvx_cache"
    if _bvx_probe_wine32 "$_bvx_cache"; then BVX_WINE_MODE=wine32; else BVX_WINE_MODE=wine64; fi
    printf '%s\n%s\n' "$_bvx_key" "$BVX_WINE_MODE" >"$_bvx_cache/mode.$$" &&
      mv -f "$_bvx_cache/mode.$$" "$_bvx_cache/mode"
  fi
  unset _bvx_cache _bvx_key
fi
unset -f _bvx_probe_wine32

if [ "$BVX_WINE_MODE" = wine32 ]; then
  BVX_EXE_PRESET=win32
  BVX_WINE_ARCH=i686
  BVX_WINE_CAN_RUN_32BIT=1
  BVX_WINE="$_bvx_wine_dir/wine"
  # Each loader starts the other one for a program of the other bitness (a
  # 64-bit prefix with both loaders); a WINELOADER naming one of them would
  # send every child to that one.
  unset WINELOADER
else
  BVX_EXE_PRESET=win64
  BVX_WINE_ARCH=x86_64
  BVX_WINE_CAN_RUN_32BIT=0
  BVX_WINE="$BVX_WINE64"
  # Child processes must be 64-bit ones too.
  export WINELOADER="$BVX_WINE64"
fi
unset _bvx_wine_dir _bvx_repo
export WINESERVER="$BVX_WINESERVER"
export BVX_WINE BVX_WINE64 BVX_WINESERVER BVX_WINE_MODE BVX_EXE_PRESET BVX_WINE_ARCH \
  BVX_WINE_CAN_RUN_32BIT
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
