#!/usr/bin/env bash
# clang-tidy over the program's sources, with the checks of .clang-tidy
# (and src/platform/win32/.clang-tidy for the Win32 layer). Any finding is
# an error: the script then exits with 1.
#
#   scripts/tidy.sh [-j JOBS] [--core-only]
#
# The portable core (src/ without src/platform/win32) is checked with the
# compile commands of a native configuration (build/tidy, clang++). The
# Win32 layer needs the Windows headers: it is checked with the compile
# commands of the i686 MinGW configuration (build/tidy-win32), clang-tidy
# parsing for the i686-w64-mingw32 target with MinGW's headers and
# libstdc++. Without MinGW installed that half is skipped, and said so.
# Only configuration is run, nothing is built.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

jobs="$(nproc 2>/dev/null || echo 2)"
core_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs="$2"; shift 2 ;;
    -j*) jobs="${1#-j}"; shift ;;
    --core-only) core_only=1; shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "tidy.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

tidy="$(command -v clang-tidy || true)"
if [ -z "$tidy" ]; then
  echo "tidy.sh: clang-tidy is not installed (apt-get install clang-tidy)" >&2
  exit 2
fi
echo "== $("$tidy" --version | grep -i version | head -1)"

# The source files of one compile_commands.json whose path matches a pattern.
sources() {
  python3 - "$1" "$2" <<'EOF'
import json, re, sys
db, pattern = sys.argv[1], re.compile(sys.argv[2])
for entry in json.load(open(db)):
    path = entry["file"]
    if pattern.search(path) and path.endswith(".cpp"):
        print(path)
EOF
}

failed=0
# Runs clang-tidy on the files on stdin; extra arguments go to clang-tidy.
run() {
  local build="$1" label="$2"
  shift 2
  local list log
  list="$(mktemp)"
  log="$(mktemp)"
  cat > "$list"
  echo "== $label: $(wc -l < "$list") files"
  if ! xargs -a "$list" -P "$jobs" -n 1 "$tidy" -p "$build" --quiet "$@" > "$log" 2>&1; then
    failed=1
  fi
  # The findings only, not the counts of suppressed warnings.
  if grep -E "(warning|error):" -A3 "$log"; then
    failed=1
  else
    echo "   no findings"
  fi
  rm -f "$list" "$log"
}

# --- the portable core ---------------------------------------------------------------
core_build="$root/build/tidy"
cmake -S "$root" -B "$core_build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > "$core_build.configure.log" 2>&1 ||
  { cat "$core_build.configure.log"; exit 2; }
run "$core_build" "portable core" \
  < <(sources "$core_build/compile_commands.json" '/src/(app|about|drives|hotkeys|settings|shutdown|platform)/[^/]+$')

# --- the Win32 layer, parsed as i686 MinGW code ------------------------------------------
if [ "$core_only" = 1 ]; then
  echo "== Win32 layer: skipped (--core-only)"
elif ! command -v i686-w64-mingw32-g++-win32 > /dev/null; then
  echo "== Win32 layer: skipped, MinGW-w64 (i686-w64-mingw32-g++-win32) is not installed"
else
  win_build="$root/build/tidy-win32"
  cmake -S "$root" -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_EXPORT_COMPILE_COMMANDS=ON > "$win_build.configure.log" 2>&1 ||
    { cat "$win_build.configure.log"; exit 2; }
  # clang finds the MinGW C headers itself, but not MinGW's libstdc++: take
  # its folders from the compiler's own search list.
  extra=(--extra-arg=--target=i686-w64-mingw32)
  while read -r dir; do
    extra+=("--extra-arg=-isystem$dir")
  done < <(echo | i686-w64-mingw32-g++-win32 -xc++ -E -v - 2>&1 |
             sed -n '/#include <...> search starts here/,/End of search list/p' | grep '/include/c++' | sed 's/^ *//')
  run "$win_build" "Win32 layer (i686-w64-mingw32)" "${extra[@]}" \
    < <(sources "$win_build/compile_commands.json" '/src/platform/win32/[^/]+$')
fi

if [ "$failed" = 0 ]; then
  echo "== clang-tidy: no findings"
else
  echo "== clang-tidy: findings above" >&2
fi
exit "$failed"
