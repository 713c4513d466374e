#!/usr/bin/env bash
# Checks the shipped executable: a 32-bit (PE32, i386) Windows program whose
# import table names only DLLs that every Windows has, of at most 256 KB.
#
#   tests/e2e/check_exe.sh [path/to/BVX.exe]     (default: build/win32/BVX.exe)
set -euo pipefail

exe="${1:-$(dirname "$0")/../../build/win32/BVX.exe}"
allowed=(kernel32.dll user32.dll gdi32.dll shell32.dll advapi32.dll comctl32.dll msvcrt.dll)
# The size budget in bytes (256 KB), the tray icon's and menu images'
# pictures for every display scale included.
max_size=262144

if [ ! -f "$exe" ]; then
  echo "check_exe: $exe not found (cmake --preset win32 && cmake --build --preset win32)" >&2
  exit 1
fi

# The first objdump that can read the file at all (a 64-bit file must fail
# below with a clear message, not here).
objdump=""
header=""
for candidate in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump objdump; do
  if command -v "$candidate" >/dev/null 2>&1 && header="$("$candidate" -f "$exe" 2>/dev/null)"; then
    objdump="$candidate"
    break
  fi
done
if [ -z "$objdump" ]; then
  echo "check_exe: no objdump (binutils or mingw-w64) can read $exe" >&2
  exit 1
fi

failed=0
if ! grep -q "file format pei-i386" <<<"$header" || ! grep -qE "architecture: i386\b" <<<"$header"; then
  echo "check_exe: $exe is not a PE32 i386 executable:" >&2
  echo "$header" >&2
  failed=1
fi

# The magic of the optional header: 010b is PE32, 020b PE32+.
magic="$("$objdump" -p "$exe" | awk '/^Magic/ && !seen {print $2; seen = 1}')"
if [ "$magic" != "010b" ]; then
  echo "check_exe: optional header magic is '$magic', not 010b (PE32)" >&2
  failed=1
fi

mapfile -t imports < <("$objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
if [ ${#imports[@]} -eq 0 ]; then
  echo "check_exe: no imported DLL found in $exe" >&2
  failed=1
fi
for dll in "${imports[@]}"; do
  ok=0
  for allowed_dll in "${allowed[@]}"; do
    if [ "$dll" = "$allowed_dll" ]; then ok=1; break; fi
  done
  if [ $ok -eq 0 ]; then
    echo "check_exe: $exe imports $dll, which is not one of: ${allowed[*]}" >&2
    failed=1
  fi
done

size="$(stat -c %s "$exe")"
if [ "$size" -gt "$max_size" ]; then
  echo "check_exe: $exe has $size bytes, more than the $max_size allowed" >&2
  failed=1
fi

if [ $failed -ne 0 ]; then exit 1; fi
echo "check_exe: $exe is PE32 i386, $size bytes (at most $max_size), and imports only: ${imports[*]}"
