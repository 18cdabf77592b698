#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine: the
# Debian packages (only those missing) and a Python virtual environment in
# .venv with the test tools. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config git
          libyaml-dev libre2-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          clang-format)
if [[ "${TARNWICK_WITH_FUZZ:-0}" == 1 ]]; then
  packages+=(clang-16 libclang-rt-16-dev valgrind)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [[ $(id -u) != 0 ]]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

PYTHON=${PYTHON:-python3}
if [[ ! -x .venv/bin/python ]]; then
  "$PYTHON" -m venv .venv
fi
.venv/bin/python -m pip install -q --upgrade pip >/dev/null
.venv/bin/python -m pip install -q pytest hypothesis mypy abi3audit build scikit-build-core
