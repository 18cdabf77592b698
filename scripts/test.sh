#!/usr/bin/env bash
# Sets everything up on a fresh machine and runs every test: formatting,
# the C++ tests (warnings as errors), the vantorell install check, the Python
# wheel checks and pytest suite, and the sanitizer and short fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
export TARNWICK_WITH_FUZZ=1
scripts/setup.sh

step() { echo; echo "=== $* ==="; }

step "clang-format"
files=$(git ls-files '*.cc' '*.h' '*.c' | grep -v '^tests/python/' || true)
if [[ -n "$files" ]]; then
  clang-format --dry-run --Werror $files
fi

step "C++ build and tests"
cmake -S . -B build/ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON >/dev/null
cmake --build build/ci
ctest --test-dir build/ci --output-on-failure

if [[ -x scripts/check_vantorell_install.sh ]]; then
  step "vantorell install check"
  scripts/check_vantorell_install.sh build/ci
fi

if [[ -x scripts/sanitizers.sh ]]; then
  step "sanitizers"
  scripts/sanitizers.sh
fi

if [[ -x scripts/leaks.sh ]]; then
  step "leak check"
  scripts/leaks.sh
fi

if [[ -x scripts/fuzz.sh ]]; then
  step "short fuzz runs"
  FUZZ_SECONDS=${FUZZ_SECONDS:-30} scripts/fuzz.sh
fi

if [[ -x scripts/python_checks.sh ]]; then
  step "Python module"
  scripts/python_checks.sh .venv/bin/python
fi
echo
echo "all tests passed"
