"""Sidecar log events arrive in Python's logging."""

from __future__ import annotations

import logging
import sys
import threading
from typing import Any

import pytest

import tarnwick
from conftest import NO_POLICY, Sidecar

LOGGER = "tarnwick_observation.detection"
UNREACHABLE_HEAD = "Semantic sidecar unreachable (http://127.0.0.1:8081: "
UNREACHABLE_TAIL = (
    ") \u2014 entering shadow mode, using exact detection only. "
    "0 loops would have been caught if sidecar were active."
)
STATUS_503 = (
    "Semantic sidecar returned status 503 Service Unavailable \u2014 entering shadow mode "
    "(exact detection fallback)"
)
RECOVERED = "Semantic sidecar recovered \u2014 shadow mode deactivated"


def _records(caplog: pytest.LogCaptureFixture) -> list[tuple[int, str]]:
    return [(r.levelno, r.getMessage()) for r in caplog.records if r.name == LOGGER]


def test_module_adds_only_a_null_handler() -> None:
    handlers = logging.getLogger(LOGGER).handlers
    assert [type(h) for h in handlers] == [logging.NullHandler]


def test_unreachable_sidecar_warns_once_on_the_calling_thread(
    no_sidecar: None, caplog: pytest.LogCaptureFixture
) -> None:
    caplog.set_level(logging.INFO, logger=LOGGER)
    orch = tarnwick.Orchestrator(NO_POLICY)
    worker = threading.Thread(
        target=lambda: [orch.process("t1", i, "search", "{}") for i in range(3)]
    )
    worker.start()
    worker.join()
    ((level, message),) = _records(caplog)
    assert level == logging.WARNING
    assert message.startswith(UNREACHABLE_HEAD) and message.endswith(UNREACHABLE_TAIL)
    (record,) = [r for r in caplog.records if r.name == LOGGER]
    assert record.thread == worker.ident


def test_sidecar_state_changes_are_logged_with_their_levels(
    sidecar: Sidecar, caplog: pytest.LogCaptureFixture
) -> None:
    caplog.set_level(logging.INFO, logger=LOGGER)
    orch = tarnwick.Orchestrator(NO_POLICY)
    steps = [
        ("status", [(logging.WARNING, STATUS_503)]),
        ("status", [(logging.WARNING, STATUS_503)]),  # error statuses warn every time
        ("notjson", []),  # neither enters nor leaves shadow mode
        ("noloop", [(logging.INFO, RECOVERED)]),
        ("noloop", []),
    ]
    for step, (mode, expected) in enumerate(steps):
        sidecar.answer(mode)
        caplog.clear()
        intervention, report = orch.process("t1", step, "search", "{}")
        assert intervention is None and report is not None
        assert _records(caplog) == expected, mode


def test_failure_inside_logging_never_reaches_process(
    no_sidecar: None, monkeypatch: pytest.MonkeyPatch
) -> None:
    unraisable: list[Any] = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)

    def broken_filter(record: logging.LogRecord) -> bool:
        raise RuntimeError("logging is broken")

    logger = logging.getLogger(LOGGER)
    logger.addFilter(broken_filter)
    try:
        intervention, report = tarnwick.Orchestrator(NO_POLICY).process("t1", 1, "search", "{}")
    finally:
        logger.removeFilter(broken_filter)
    assert intervention is None and report is not None
    assert [type(u.exc_value) for u in unraisable] == [RuntimeError]
