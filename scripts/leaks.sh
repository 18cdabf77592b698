#!/usr/bin/env bash
# Leak check of the vantorell C interface: builds libvantorell.so (no
# sanitizers) and tests/c/vantorell_lifecycle.c, which walks every creation,
# verification and failure path, and runs it under valgrind. Any leak
# (definite, indirect or possible) or memory error fails the script; the
# only suppressions (tests/c/re2.supp) are RE2's deliberate reads of
# uninitialised sparse-set slots.
#
#   scripts/leaks.sh              build in build/leaks and check
#   LEAKS_BUILD=dir scripts/leaks.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=${LEAKS_BUILD:-build/leaks}
if [[ ! -f src/vantorell/CMakeLists.txt ]]; then
  echo "leaks: no vantorell library yet; skipping"
  exit 0
fi
if ! command -v valgrind >/dev/null; then
  echo "leaks: valgrind is not installed (scripts/setup.sh installs it with TARNWICK_WITH_FUZZ=1)" >&2
  exit 1
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_BUILD_TESTS=OFF \
  -DTARNWICK_BUILD_BENCH=OFF -DTARNWICK_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --target vantorell
lib_dir=$(realpath "$(dirname "$(find "$build" -name libvantorell.so -print -quit)")")
cc -std=c99 -g -O1 -Wall -Wextra -Werror -Iinclude tests/c/vantorell_lifecycle.c \
  -L"$lib_dir" -lvantorell -Wl,-rpath,"$lib_dir" -o "$build/vantorell_lifecycle"

log=$build/valgrind.log
start=$SECONDS
if ! valgrind --suppressions=tests/c/re2.supp --leak-check=full --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=1 \
    --log-file="$log" "$build/vantorell_lifecycle"; then
  cat "$log"
  echo "leaks: valgrind found errors or leaks (log: $log)"
  exit 1
fi
echo "leaks: $(grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|total heap usage' "$log" |
  sed 's/^==[0-9]*== *//' | paste -sd';' -) ($((SECONDS - start)) s)"
