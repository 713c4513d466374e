#!/usr/bin/env bash
# Checks that BVX.exe is reproducible: two copies of these sources, in two
# folders of different paths, built one after the other (so at different
# times, and the second in another time zone), must give the same bytes.
#
#   tests/e2e/check_reproducible.sh [preset]     (default: win32)
#
# No compiler launcher and no compiler cache take part: a cache would hand
# the second build the first one's objects and hide any difference.
set -euo pipefail

preset="${1:-win32}"
jobs="$(nproc 2>/dev/null || echo 2)"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/bvx-repro.XXXXXX")"
trap 'rm -rf "$work"' EXIT

one="$work/one"
two="$work/second-copy/of/the/sources"
mkdir -p "$one" "$two"

# The sources as they are in this folder: tracked and new files, without
# ignored ones (build folders); outside git, everything but build/ and dist/.
copy_sources() {
  if git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$repo" && git ls-files -z -co --exclude-standard |
      tar --null --ignore-failed-read -T - -cf -) | tar -xf - -C "$1"
  else
    tar -C "$repo" --exclude=./build --exclude=./dist -cf - . | tar -xf - -C "$1"
  fi
}

build() {
  local src="$1" tz="$2"
  (cd "$src" &&
    env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER CCACHE_DISABLE=1 TZ="$tz" \
      cmake --preset "$preset" -DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER= \
      >"$work/configure.log" 2>&1 &&
    env CCACHE_DISABLE=1 TZ="$tz" cmake --build --preset "$preset" -j "$jobs" >"$work/build.log" 2>&1) || {
    echo "check_reproducible: building $src failed:" >&2
    tail -n 30 "$work/configure.log" "$work/build.log" >&2
    exit 1
  }
}

copy_sources "$one"
copy_sources "$two"
build "$one" UTC
build "$two" Pacific/Kiritimati

a="$one/build/$preset/BVX.exe"
b="$two/build/$preset/BVX.exe"
failed=0
for exe in "$a" "$b"; do
  if strings -a "$exe" | grep -F "$work"; then
    echo "check_reproducible: $exe holds the build path above" >&2
    failed=1
  fi
done
if ! cmp -s "$a" "$b"; then
  echo "check_reproducible: the two builds differ ($(cmp -l "$a" "$b" | wc -l) bytes; first offsets, octal values):" >&2
  cmp -l "$a" "$b" | head -n 8 >&2 || true
  failed=1
fi
if [ $failed -ne 0 ]; then exit 1; fi
echo "check_reproducible: $preset BVX.exe is the same from two folders: $(sha256sum <"$a" | cut -d' ' -f1)"
