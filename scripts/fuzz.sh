#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang 16 (libFuzzer + ASan + UBSan)
# and runs each one on its seed corpus fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh                  CI mode: every target for FUZZ_SECONDS
#                                    (default 30) seconds
#   scripts/fuzz.sh json_fuzzer      only the named targets
#   FUZZ_SECONDS=3600 FUZZ_MERGE=1 scripts/fuzz.sh policy_fuzzer
#                                    a long run; FUZZ_MERGE=1 afterwards merges
#                                    the inputs that found new coverage into
#                                    the seed corpus in the repository
#   FUZZ_JOBS=2 ...                  run that many fuzzing processes per target
#
# New inputs go to a working corpus under the build directory (FUZZ_BUILD,
# default build/fuzz), so a CI run never changes the repository. A crash,
# leak or timeout fails the script and leaves the reproducer in
# $FUZZ_BUILD/artifacts/; replay it with `$FUZZ_BUILD/<target> <file>`.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD:-build/fuzz}
jobs=${FUZZ_JOBS:-1}
cc=${FUZZ_CC:-clang-16}
cxx=${FUZZ_CXX:-clang++-16}

mkdir -p "$build"
if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx is not installed (scripts/setup.sh installs it with TARNWICK_WITH_FUZZ=1)" >&2
  exit 1
fi

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
grep "^-- fuzz: skipping" "$build/configure.log" | sed 's/^-- /  /' || true
read -r -a built < <(tr ";" " " <"$build/fuzz_targets.txt") || true
if ((${#built[@]} == 0)); then
  echo "fuzz: no fuzz target can be built yet"
  exit 0
fi

targets=("$@")
if ((${#targets[@]} == 0)); then targets=("${built[@]}"); fi
cmake --build "$build" --target "${targets[@]}"

mkdir -p "$build/artifacts"
summary=()
status=0
for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  work=$build/corpus/$t
  mkdir -p "$seeds" "$work"
  log=$build/$t.log
  echo "fuzz: $t for ${seconds}s"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-")
  [[ -f fuzz/$t.dict ]] && args+=(-dict="fuzz/$t.dict")
  if ((jobs > 1)); then args+=(-fork="$jobs"); fi
  if ! "$build/$t" "${args[@]}" "$work" "$seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $t FAILED (log: $log, reproducer in $build/artifacts/)"
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  size=$(find "$work" "$seeds" -type f | wc -l)
  summary+=("$(printf '%-24s %10s executions  %5s corpus files' "$t" "${runs:-?}" "$size")")
  if [[ ${FUZZ_MERGE:-0} == 1 && $status == 0 ]]; then
    "$build/$t" -merge=1 -max_len=65536 "$seeds" "$work" >>"$log" 2>&1
    echo "fuzz: merged new inputs into $seeds"
  fi
done

echo
echo "fuzz summary (${seconds}s per target):"
printf '  %s\n' "${summary[@]}"
exit $status
