#!/usr/bin/env bash
# Builds the abi3 wheel of the Python module, audits it, installs it and runs
# the type check and the Python tests against the installed module.
#
# Usage: scripts/python_checks.sh PYTHON
#   PYTHON: the interpreter of a virtual environment that has pip; pytest,
#   hypothesis, mypy and abi3audit are installed into it when missing.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 PYTHON" >&2
  exit 2
fi
# Made absolute (without resolving the venv's symlink) since we change
# directory below.
if [[ $1 == */* ]]; then
  python=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
  python=$(command -v "$1")
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$python" -m pip install --quiet pytest hypothesis mypy abi3audit

rm -rf dist
"$python" -m pip wheel . --no-deps -w dist
wheel=$(ls dist/tarnwick-*.whl)
echo "built $wheel"

# Strict: any symbol outside the stable ABI (or newer than cp310) fails.
"$python" -m abi3audit --strict --report "$wheel"

"$python" -m pip install --force-reinstall --no-deps "$wheel"

# Run from outside the source tree so that the installed module and stubs are
# the ones under test.
tests="$root/tests/python"
cd "$(mktemp -d)"
"$python" -m mypy --strict "$tests/typing_usage.py"
"$python" -m pytest -p no:cacheprovider -W error "$tests"
