#!/usr/bin/env bash
# Builds the fuzz targets (the "fuzz" preset: clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each of them for a while.
#
#   scripts/fuzz.sh [SECONDS]                 each target SECONDS long (default 60), one process
#   scripts/fuzz.sh --long [SECONDS] [JOBS]   each target SECONDS long (default 3600) in JOBS
#                                             parallel processes (default: the number of cores)
#   scripts/fuzz.sh --runs COUNT [JOBS]       each target until COUNT inputs have run, in all of
#                                             JOBS processes together (default 1)
#   scripts/fuzz.sh --depth ...               the same with the depth build (build/fuzz-depth:
#                                             no AddressSanitizer, no comparison tracing), for
#                                             runs of many millions of inputs
#   scripts/fuzz.sh --only TARGET ...         the same, for one target (ini, settings, device_change)
#
# The checked-in corpus (fuzz/corpus/TARGET) starts every run and is never
# written; what a run learns is kept in build/fuzz/corpus/TARGET for the next
# run. A crash, a hang (over 10 s for one input) or a leak stops the target
# and leaves the input in build/fuzz/artifacts/TARGET/; the script then exits
# with 1. BVX_FUZZ_BUILD_DIR=folder builds and works elsewhere than in
# build/fuzz. See fuzz/README.md.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

targets=(ini settings device_change)
long=0
depth=0
runs_wanted=0
only=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --long) long=1; shift ;;
    --only) only="$2"; shift 2 ;;
    --runs) runs_wanted="$2"; shift 2 ;;
    --depth) depth=1; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) args+=("$1"); shift ;;
  esac
done
if [ -n "$only" ]; then targets=("$only"); fi
if [ "$long" = 1 ]; then
  seconds="${args[0]:-3600}"
  jobs="${args[1]:-$(nproc 2>/dev/null || echo 2)}"
else
  seconds="${args[0]:-60}"
  jobs=1
fi
case "$seconds$jobs$runs_wanted" in
  *[!0-9]*) echo "fuzz.sh: seconds, jobs and runs are whole numbers" >&2; exit 2 ;;
esac
# A count of inputs instead of a time: no time limit, the count shared out
# among the processes (JOBS, default 1).
limit=(-max_total_time="$seconds")
if [ "$runs_wanted" -gt 0 ]; then
  jobs="${args[0]:-1}"
  case "$jobs" in ''|*[!0-9]*|0) echo "fuzz.sh: jobs is a whole number" >&2; exit 2 ;; esac
  limit=(-runs="$(( (runs_wanted + jobs - 1) / jobs ))")
fi

# The preset's folder, unless BVX_FUZZ_BUILD_DIR names another.
variant=()
default_build="$root/build/fuzz"
if [ "$depth" = 1 ]; then variant=(-DBVX_FUZZ_DEPTH=ON); default_build="$root/build/fuzz-depth"; fi
build="${BVX_FUZZ_BUILD_DIR:-$default_build}"
echo "== building the fuzz targets in $build"
mkdir -p "$(dirname "$build")"
cmake --preset fuzz -B "$build" "${variant[@]}" > "$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 2; }
cmake --build "$build"

# Options for every run: one input may take 10 s at most; memory as the
# sanitizers need it; the dictionary of the settings file for its targets.
common=(-timeout=10 -rss_limit_mb=4096 -print_final_stats=1)

status=0
summary=()
for t in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$t"
  [ -x "$binary" ] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
  work="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  logs="$build/logs/$t"
  rm -rf "$artifacts" "$logs"
  mkdir -p "$work" "$artifacts" "$logs"
  extra=()
  case "$t" in ini|settings) extra+=("-dict=$root/fuzz/settings_file.dict") ;; esac

  if [ "$runs_wanted" -gt 0 ]; then echo "== $t: $runs_wanted inputs$([ "$jobs" -gt 1 ] && echo " in $jobs processes")"
  else echo "== $t: ${seconds} s$([ "$jobs" -gt 1 ] && echo " in $jobs processes")"; fi
  rc=0
  started=$SECONDS
  if [ "$jobs" -gt 1 ]; then
    # Parallel processes over one shared corpus; each writes fuzz-N.log.
    (cd "$logs" && "$binary" "${common[@]}" "${extra[@]}" -artifact_prefix="$artifacts/" \
       -jobs="$jobs" -workers="$jobs" "${limit[@]}" "$work" "$root/fuzz/corpus/$t") \
      > "$logs/driver.log" 2>&1 || rc=$?
  else
    "$binary" "${common[@]}" "${extra[@]}" -artifact_prefix="$artifacts/" "${limit[@]}" \
      "$work" "$root/fuzz/corpus/$t" > "$logs/fuzz-0.log" 2>&1 || rc=$?
  fi

  runs=0
  for log in "$logs"/fuzz-*.log; do
    [ -f "$log" ] || continue
    n="$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{s += $2} END {print s + 0}')"
    runs=$((runs + n))
  done
  # A slow-unit file only says that one input took over 10 s of wall time
  # (a starved process writes them too); it is not a fault and stops nothing.
  found="$(find "$artifacts" -type f ! -name 'slow-unit-*' | wc -l)"
  slow="$(find "$artifacts" -type f -name 'slow-unit-*' | wc -l)"
  took="$((SECONDS - started)) s"
  if [ "$slow" -gt 0 ]; then
    echo "== $t: $slow input(s) took over 10 s of wall time once (in $artifacts); run each alone to see its time"
  fi
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    status=1
    summary+=("$t: FAILED after $runs runs in $took; inputs in $artifacts")
    for log in "$logs"/fuzz-*.log; do
      [ -f "$log" ] || continue
      grep -E -A25 '^(==[0-9]+==ERROR|\*\*\* broken rule|SUMMARY)' "$log" | head -60 || true
    done
  else
    summary+=("$t: $runs runs in $took, nothing found; corpus $(find "$work" -type f | wc -l) inputs")
  fi
done

echo "== summary"
printf '   %s\n' "${summary[@]}"
exit "$status"
