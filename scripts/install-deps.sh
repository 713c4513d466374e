#!/usr/bin/env bash
# Installs what building and testing Brimvex needs on Debian or Ubuntu, only
# when something is missing. Run as root or with sudo available.
#
# A package mirror can be caught mid-sync: one index of the wrong size makes
# `apt-get update` fail although every other list came in. So:
#   - a failed update is tried once more, then named in a warning, and the
#     install goes on with the lists there are;
#   - the packages every host needs install as one set; if they cannot, the
#     script stops with a message and a non-zero exit;
#   - the 32-bit Wine (wine32:i386) installs on its own; where it cannot, one
#     line says so and the script ends with 0: the tests then run in the
#     x86_64 mode (scripts/wine-env.sh), as on a host that runs no 32-bit code.
set -uo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

essential=(
  cmake ninja-build g++ clang libclang-rt-dev clang-tidy python3
  libgtest-dev libgmock-dev libbenchmark-dev
  mingw-w64
  wine wine64 xvfb xdotool x11-utils imagemagick fonts-liberation
)
# wine32 comes from the i386 architecture.
optional32=(wine32:i386)

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

updated=""
# update: apt-get update, once more on failure; a failure that stays is a
# warning naming what could not be fetched.
update() {
  [ -n "$updated" ] && return 0
  updated=1
  local log attempt
  log="$(mktemp)"
  for attempt in 1 2; do
    if $SUDO apt-get update -qq >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    [ "$attempt" = 1 ] && sleep 2
  done
  local failed
  failed="$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$log" | sort -u | paste -sd ' ')"
  echo "install-deps.sh: warning: apt-get update failed twice (${failed:-$(grep -m1 '^E:' "$log")});" \
    "going on with the package lists there are" >&2
  rm -f "$log"
}

need_update=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386 || echo "install-deps.sh: warning: could not add the i386 architecture" >&2
  need_update=1
fi

mapfile -t todo < <(missing "${essential[@]}")
if [ ${#todo[@]} -gt 0 ]; then
  echo "Installing: ${todo[*]}"
  update
  if ! $SUDO apt-get install -y -qq "${todo[@]}" >/dev/null; then
    echo "install-deps.sh: could not install the packages every build needs: ${todo[*]}" \
      "(see apt-get's messages above); nothing can be built without them" >&2
    exit 1
  fi
fi

mapfile -t todo < <(missing "${optional32[@]}")
if [ ${#todo[@]} -gt 0 ]; then
  update
  if ! $SUDO apt-get install -y -qq "${todo[@]}" >/dev/null 2>&1; then
    echo "install-deps.sh: ${todo[*]} could not be installed (package mirror?): 32-bit programs" \
      "will not run under Wine here, so the tests use the x86_64 build, build/win64/BVX.exe" >&2
  fi
elif [ -n "$need_update" ]; then
  update
fi
exit 0
