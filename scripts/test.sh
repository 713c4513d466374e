#!/usr/bin/env bash
# Builds everything and runs every test:
#   - native unit tests (build/native), and the same under ASan/UBSan (build/asan);
#   - the shipped 32-bit BVX.exe (build/win32): PE32 i386, system DLLs only,
#     and reproducible (built from two copies in two folders: same bytes);
#   - the x86_64 BVX.exe (build/win64) only where Wine runs only x86_64 code;
#   - the end-to-end tests under Wine and Xvfb (ctest --preset e2e) of
#     build/win32/BVX.exe where Wine runs 32-bit code, else build/win64/BVX.exe
#     (scripts/wine-env.sh decides; the summary names the exe);
#   - the benchmarks' Windows programs, built only (scripts/bench.sh runs them);
#   - short fuzz runs and clang-tidy.
# Stops at the first failing step with its exit code and prints a summary.
set -euo pipefail

cd "$(dirname "$0")/.."
repo="$(pwd)"

bash scripts/install-deps.sh
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh

jobs="$(nproc 2>/dev/null || echo 2)"
results=()
started=$SECONDS

summary() {
  echo
  echo "==================== summary ===================="
  for line in "${results[@]}"; do echo "  $line"; done
  echo "  total $((SECONDS - started)) s"
  echo "================================================="
}

# step <name> <command...>: runs one step, records it, stops at a failure.
step() {
  local name="$1"
  shift
  echo
  echo "==> $name"
  local t0=$SECONDS
  if "$@"; then
    results+=("ok    $name ($((SECONDS - t0)) s)")
  else
    local code=$?
    results+=("FAIL  $name ($((SECONDS - t0)) s, exit $code)")
    summary
    echo "test.sh: '$name' failed" >&2
    exit "$code"
  fi
}

step "configure native" cmake --preset native
step "build native" cmake --build --preset native -j "$jobs"
step "configure asan" cmake --preset asan
step "build asan" cmake --build --preset asan -j "$jobs"

step "configure win32 (shipped BVX.exe)" cmake --preset win32
step "build win32" cmake --build --preset win32 -j "$jobs"
step "check build/win32/BVX.exe" bash tests/e2e/check_exe.sh "$repo/build/win32/BVX.exe"
step "BVX.exe is reproducible (two folders, same bytes)" bash tests/e2e/check_reproducible.sh win32
# The benchmarks' Windows programs are only run by scripts/bench.sh; building
# them here keeps them in step with the sources they link.
step "configure the benchmarks' Windows programs (i686)" cmake -S bench/wine -B build/bench/wine-i686 \
  -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake"
step "build the benchmarks' Windows programs" cmake --build build/bench/wine-i686 -j "$jobs"

if [ "$BVX_EXE_PRESET" = "win64" ]; then
  # This machine's Wine runs only x86_64 code: the end-to-end tests use
  # the same sources built for x86_64.
  step "configure win64 (BVX.exe for the end-to-end tests)" cmake --preset win64
  step "build win64" cmake --build --preset win64 -j "$jobs"
fi

step "unit tests (native)" ctest --preset native --no-tests=error -j "$jobs"
step "unit tests (ASan/UBSan)" ctest --preset asan --no-tests=error -j "$jobs"
# The summary names the exe the end-to-end tests drive, pass or fail.
results+=("      $(python3 tests/e2e/harness.py exe)")
# The end-to-end tests' work folder (BVX_E2E_WORK in tests/e2e/CMakeLists.txt).
reruns="$repo/build/native/e2e-work/driver-reruns.txt"
rm -f "$reruns"
e2e_tests() {
  local code=0
  ctest --preset e2e --no-tests=error || code=$?
  if [ -s "$reruns" ]; then
    # Driver runs that Wine did not bring up, run once more (tests/e2e/harness.py).
    results+=("      driver runs repeated: $(wc -l < "$reruns") (see $reruns)")
  fi
  return "$code"
}
step "end-to-end tests (Wine, Xvfb)" e2e_tests

# Short fuzz runs of every target (the long run: scripts/fuzz.sh --long).
step "fuzz (60 s each target)" bash scripts/fuzz.sh 60
step "clang-tidy" bash scripts/tidy.sh

summary
echo "test.sh: all steps passed"
