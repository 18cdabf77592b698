#!/usr/bin/env bash
# Sanitizer runs (GCC):
#  1. AddressSanitizer + UndefinedBehaviorSanitizer (leak detection on): every
#     C++ test through ctest, plus the C programs that use the vantorell C
#     interface (tests/c/*.c and the library's own C test).
#  2. ThreadSanitizer: the concurrency tests (test names containing
#     "Concurrency"): verifier handles, orchestrators and one semantic
#     detector used from several threads.
#
#   scripts/sanitizers.sh           both
#   scripts/sanitizers.sh asan      only the first (or: tsan)
# Build directories: SANITIZE_BUILD (default build) + /asan and /tsan.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${SANITIZE_BUILD:-build}
what=${1:-all}
common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON -DTARNWICK_BUILD_BENCH=OFF
        -DTARNWICK_BUILD_EXAMPLES=OFF -DTARNWICK_BUILD_PYTHON=OFF)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

run_asan() {
  local build=$root/asan start=$SECONDS
  echo "sanitizers: ASan+UBSan build in $build"
  cmake -S . -B "$build" "${common[@]}" -DTARNWICK_SANITIZE=ON >/dev/null
  cmake --build "$build"
  ctest --test-dir "$build" --output-on-failure
  if [[ -f src/vantorell/CMakeLists.txt ]]; then
    local lib_dir
    lib_dir=$(realpath "$(dirname "$(find "$build" -name libvantorell.so -print -quit)")")
    for c in tests/c/*.c src/vantorell/c_test/*.c; do
      [[ -f $c ]] || continue
      local exe=$build/c_$(basename "$c" .c)
      cc -std=c99 -g -O1 -Wall -Wextra -Werror -fsanitize=address,undefined \
        -fno-sanitize-recover=undefined -Iinclude "$c" -L"$lib_dir" -lvantorell \
        -Wl,-rpath,"$lib_dir" -o "$exe"
      echo "sanitizers: $c"
      "$exe"
    done
  fi
  echo "sanitizers: ASan+UBSan passed ($((SECONDS - start)) s)"
}

run_tsan() {
  local build=$root/tsan start=$SECONDS
  local tests=() sources
  for dir in observation core vantorell; do
    sources=$(find "src/$dir" -maxdepth 1 -name '*_concurrency_test.cc' | head -1)
    [[ -n $sources ]] || continue
    if [[ $dir == vantorell ]]; then tests+=(vantorell_test); else tests+=("tarnwick_${dir}_test"); fi
  done
  if ((${#tests[@]} == 0)); then
    echo "sanitizers: no concurrency tests yet; skipping ThreadSanitizer"
    return
  fi
  echo "sanitizers: ThreadSanitizer build in $build (${tests[*]})"
  cmake -S . -B "$build" "${common[@]}" -DTARNWICK_TSAN=ON >/dev/null
  cmake --build "$build" --target "${tests[@]}"
  for t in "${tests[@]}"; do
    local exe
    exe=$(find "$build" -name "$t" -type f -executable -print -quit)
    echo "sanitizers: $t (concurrency tests)"
    "$exe" --gtest_filter='*Concurrency*' --gtest_brief=1
  done
  echo "sanitizers: ThreadSanitizer passed ($((SECONDS - start)) s)"
}

case $what in
  all) run_asan; run_tsan ;;
  asan) run_asan ;;
  tsan) run_tsan ;;
  *) echo "usage: $0 [all|asan|tsan]" >&2; exit 2 ;;
esac
