#!/usr/bin/env bash
# Builds and runs every benchmark, prints the table and writes it to
# bench/results.md. Not part of scripts/test.sh. See bench/README.md.
#
#   scripts/bench.sh            everything (about 15 minutes on 2 cores)
#   BVX_BENCH_QUICK=1 scripts/bench.sh
#                               fewer runs and a 10 s idle window, to try
#                               the machinery (the table then says so)
#   BVX_BENCH_BEFORE=old/BVX.exe scripts/bench.sh
#                               an earlier build of the arch Wine runs,
#                               measured side by side (start-up, memory,
#                               first door command, menu, options window)
#
# It measures the BVX.exe that runs on this host: the shipped i686
# build/win32/BVX.exe where Wine runs 32-bit code, else the x86_64
# build/win64/BVX.exe (scripts/wine-env.sh decides; the mode goes into the
# results). Build folders: build/win32 (and build/win64 where needed), the
# presets, and build/bench/* of its own. Before measuring it waits
# (at most BVX_BENCH_QUIET_WAIT seconds, 180 by default) for the machine to
# be quiet, and records the load it measured under. BVX_BENCH_NOTE=text adds
# a note on the conditions to the results (what else ran, for instance).
set -euo pipefail

REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
BUILD="$REPO/build/bench"
mkdir -p "$BUILD"

for tool in cmake ninja python3 i686-w64-mingw32-objdump Xvfb; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done
# shellcheck source=scripts/wine-env.sh
source "$REPO/scripts/wine-env.sh"
ARCH="$BVX_WINE_ARCH"
PRESET="$BVX_EXE_PRESET"
echo "Wine mode: $BVX_WINE_MODE; measuring build/$PRESET/BVX.exe" >&2
step() { printf '\n=== %s\n' "$*" >&2; }

step "build: native benchmarks ($BUILD/native)"
# -O2: GCC 12 at -O3 stops the core's build with a false -Wrestrict warning
# inside std::string's operator+ (the warnings are errors).
cmake -S "$REPO" -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DBVX_TESTS=ON >/dev/null
cmake --build "$BUILD/native" --target bvx_bench bvx_bench_settings bvx_e2e_driver

step "build: BVX.exe, preset win32 (shipped) and $PRESET (measured)"
cmake --preset win32 >/dev/null && cmake --build --preset win32
if [ "$PRESET" != win32 ]; then
  cmake --preset "$PRESET" >/dev/null && cmake --build --preset "$PRESET"
fi

step "build: the Windows programs of the benchmarks ($ARCH, and i686 for the size)"
for arch in "$ARCH" i686; do
  cmake -S "$REPO/bench/wine" -B "$BUILD/wine-$arch" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-$arch.cmake" >/dev/null
done
cmake --build "$BUILD/wine-$ARCH"
cmake --build "$BUILD/wine-i686" --target baseline_tray

"$BUILD/native/bench/bvx_bench_settings" 2048 "$BUILD/settings-2k.ini"
"$BUILD/native/bench/bvx_bench_settings" 1048576 "$BUILD/settings-1m.ini"

step "waiting for a quiet machine"
QUIET="$(python3 - "${BVX_BENCH_QUIET_WAIT:-180}" <<'EOF'
import sys, time
def busy(seconds=3.0):
    def sample():
        f = [int(x) for x in open("/proc/stat").readline().split()[1:]]
        return sum(f), f[3] + f[4]
    t0, i0 = sample(); time.sleep(seconds); t1, i1 = sample()
    return 1.0 - (i1 - i0) / max(1, t1 - t0)
deadline = time.monotonic() + float(sys.argv[1])
while True:
    b = busy()
    if b < 0.15 or time.monotonic() > deadline:
        break
print(f"CPU busy {b:.0%} of 2 cores in the 3 s before the Wine runs"
      + ("" if b < 0.15 else " (the machine did not get quiet: figures are noisier)") + ".")
EOF
)"
echo "$QUIET" >&2

if [ -n "${BVX_BENCH_QUICK:-}" ]; then
  NATIVE_ARGS=(--benchmark_min_time=0.1 --benchmark_repetitions=1)
  WINE_ARGS=(--runs 3 --probe-runs 1 --idle 10 --hotkeys 5 --cold-loads 3 --first-use 2)
else
  NATIVE_ARGS=(--benchmark_min_time=0.5 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
  WINE_ARGS=(--runs 24 --probe-runs 24 --idle 60 --hotkeys 20 --cold-loads 10 --first-use 10)
fi
if [ -n "${BVX_BENCH_BEFORE:-}" ]; then
  WINE_ARGS+=(--extra "before=$(realpath "$BVX_BENCH_BEFORE")")
fi

step "native benchmarks"
"$BUILD/native/bench/bvx_bench" "${NATIVE_ARGS[@]}" \
  --benchmark_out="$BUILD/native.json" --benchmark_out_format=json

step "under Wine ($ARCH): start-up, memory, idle, hotkeys, settings reads"
python3 "$REPO/bench/wine_bench.py" \
  --bvx "$REPO/build/$PRESET/BVX.exe" --tools "$BUILD/wine-$ARCH" \
  --driver "$BUILD/native/tests/e2e/driver.exe" \
  --small-ini "$BUILD/settings-2k.ini" --large-ini "$BUILD/settings-1m.ini" \
  --work "$BUILD/wine-work" --out "$BUILD/wine.json" "${WINE_ARGS[@]}"

step "table"
COMMIT="$(git -C "$REPO" rev-parse --short HEAD)$(git -C "$REPO" diff --quiet HEAD -- src || echo ' (src modified)')"
python3 "$REPO/bench/report.py" --native "$BUILD/native.json" --wine "$BUILD/wine.json" \
  --exe "$REPO/build/win32/BVX.exe" --baseline-exe "$BUILD/wine-i686/baseline_tray.exe" \
  --objdump i686-w64-mingw32-objdump --out "$REPO/bench/results.md" --commit "$COMMIT" \
  --wine-exe "build/$PRESET/BVX.exe${BVX_BENCH_BEFORE:+ (before: $BVX_BENCH_BEFORE)}" \
  --quiet-check "$QUIET${BVX_BENCH_NOTE:+ $BVX_BENCH_NOTE}${BVX_BENCH_QUICK:+ QUICK RUN: fewer repetitions, 10 s idle window.}"
