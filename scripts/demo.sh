#!/usr/bin/env bash
# Sets everything up on a fresh machine, installs the tarnwick module into
# .venv and replays the sample agent trace with the toy semantic sidecar,
# which is stopped for steps 9-12 to show shadow mode and recovery.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [[ "${TARNWICK_DEMO_SKIP_INSTALL:-0}" != 1 ]]; then
  .venv/bin/python -m pip install -q . >/dev/null
fi
exec .venv/bin/python examples/replay.py examples/trace.jsonl --policy examples/policy.yaml \
  --with-sidecar --sidecar-outage 9-13
