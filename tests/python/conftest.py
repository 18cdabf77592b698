"""Shared fixtures: policies, orchestrators and a loopback semantic sidecar.

The orchestrator always asks the semantic sidecar at 127.0.0.1:8081. Tests
that need to know what answers there use `no_sidecar` (nothing may listen) or
`sidecar` (a separate process that this fixture starts and stops).
"""

from __future__ import annotations

import pathlib
import socket
import subprocess
import sys
import time
from collections.abc import Iterator

import pytest

import tarnwick

SIDECAR_PORT = 8081
HERE = pathlib.Path(__file__).resolve().parent

# Fires at repeat thresholds: a second identical call backs off, a third one
# aborts (higher priority wins once both match).
THRESHOLD_POLICY = """
policies:
  - name: stop-loop
    priority: 10
    when: {count: {exact_repeat: 3}}
    do: {type: Abort, params: {reason: "looping"}}
  - name: slow-down
    when: {count: {exact_repeat: 2}}
    do: {type: Backoff, params: {base_ms: 100}}
"""

NO_POLICY = "policies: []"


def _port_in_use(port: int) -> bool:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


@pytest.fixture
def orchestrator() -> tarnwick.Orchestrator:
    return tarnwick.Orchestrator(THRESHOLD_POLICY)


@pytest.fixture
def report() -> tarnwick.DetectionReport:
    _, rep = tarnwick.Orchestrator(NO_POLICY).process("t1", 1, "search", "{}")
    assert rep is not None
    return rep


@pytest.fixture
def no_sidecar() -> None:
    if _port_in_use(SIDECAR_PORT):
        pytest.fail(
            f"something listens on 127.0.0.1:{SIDECAR_PORT}; this test needs the port free "
            "so that every sidecar request is refused"
        )


class Sidecar:
    """Handle on the sidecar process: switch what it answers."""

    def __init__(self, mode_file: pathlib.Path) -> None:
        self._mode_file = mode_file

    def answer(self, mode: str) -> None:
        self._mode_file.write_text(mode)


@pytest.fixture
def sidecar(tmp_path: pathlib.Path) -> Iterator[Sidecar]:
    if _port_in_use(SIDECAR_PORT):
        pytest.fail(f"cannot start the test sidecar: 127.0.0.1:{SIDECAR_PORT} is already in use")
    mode_file = tmp_path / "sidecar-mode"
    mode_file.write_text("noloop")
    stderr_file = tmp_path / "sidecar-stderr"
    with stderr_file.open("w") as stderr:
        proc = subprocess.Popen(
            [sys.executable, str(HERE / "sidecar_server.py"), str(SIDECAR_PORT), str(mode_file)],
            stdout=subprocess.DEVNULL,
            stderr=stderr,
        )
    try:
        deadline = time.monotonic() + 10
        while not _port_in_use(SIDECAR_PORT):
            if proc.poll() is not None:
                pytest.fail(f"the test sidecar did not start: {stderr_file.read_text()}")
            if time.monotonic() > deadline:
                pytest.fail("the test sidecar did not start listening within 10 s")
            time.sleep(0.05)
        yield Sidecar(mode_file)
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
