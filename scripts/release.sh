#!/usr/bin/env bash
# Makes the release from the committed tree:
#   dist/Brimvex-<version>.zip   BVX.exe (win32 preset), README.txt, LICENSE
#   dist/SHA256SUMS              the sums of BVX.exe and of the zip
# Refuses a tree with uncommitted changes. The same commit gives the same
# bytes: the exe is reproducible, and the zip's members come in a fixed
# order with fixed permissions and the commit's date as their time.
set -euo pipefail

cd "$(dirname "$0")/.."

fail() {
  echo "release.sh: $*" >&2
  exit 1
}

git rev-parse --is-inside-work-tree >/dev/null 2>&1 || fail "$(pwd) is not a git checkout"
changes="$(git status --porcelain --untracked-files=normal)"
if [ -n "$changes" ]; then
  echo "$changes" >&2
  fail "the tree has uncommitted changes (above); commit or stash them first"
fi

bash scripts/install-deps.sh

commit="$(git rev-parse HEAD)"
epoch="$(git log -1 --format=%ct)"
export SOURCE_DATE_EPOCH="$epoch"
jobs="$(nproc 2>/dev/null || echo 2)"

# A clean build folder, and the compiler itself: no launcher, no cache.
build=build/release
rm -rf "$build"
env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
  cmake --preset win32 -B "$build" -DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER=
CCACHE_DISABLE=1 cmake --build "$build" -j "$jobs"
exe="$build/BVX.exe"
bash tests/e2e/check_exe.sh "$exe"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
zip_name="Brimvex-$version.zip"

mkdir -p dist
rm -f "dist/$zip_name" dist/SHA256SUMS
python3 scripts/pack_release.py "$exe" README.md LICENSE "$epoch" "dist/$zip_name"
# Its own check: packing again gives the same bytes.
python3 scripts/pack_release.py "$exe" README.md LICENSE "$epoch" "$build/again.zip"
cmp "dist/$zip_name" "$build/again.zip" || fail "two zips of the same tree differ"

exe_sum="$(sha256sum <"$exe" | cut -d' ' -f1)"
zip_sum="$(sha256sum <"dist/$zip_name" | cut -d' ' -f1)"
printf '%s  %s\n%s  %s\n' "$exe_sum" BVX.exe "$zip_sum" "$zip_name" >dist/SHA256SUMS

echo
echo "release.sh: Brimvex $version from commit $commit ($(stat -c %s "$exe") bytes exe)"
cat dist/SHA256SUMS
