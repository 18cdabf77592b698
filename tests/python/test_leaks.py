"""Whole lifecycles leak nothing: orchestrators created, used and freed over
and over, including every failure path, leave no objects, references,
traced memory or resident memory behind."""

from __future__ import annotations

import gc
import logging
import sys
import tracemalloc

import pytest

import tarnwick

CYCLES = 3_000
POLICY = """
policies:
  - {name: stop, priority: 5, when: {count: {exact_repeat: 3}}, do: {type: Abort, params: {reason: loop}}}
  - {name: swap, when: {count: {exact_repeat: 2}}, do: {type: ReplaceTool, params: {original: a, replacement: b}}}
"""
BAD_POLICIES = ["not: [valid", "policies: [{name: x, when: {}, do: {type: retry}}]", ""]


def _rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def _refcounts() -> list[int]:
    # Each live instance holds a reference to its heap type, and the module
    # functions and types are referenced from the module: a leaked object or
    # a reference left on a shared object shows up here.
    objects = (
        tarnwick,
        tarnwick.Orchestrator,
        tarnwick.Intervention,
        tarnwick.RecoveryMetrics,
        tarnwick.DetectionReport,
        tarnwick.canonicalize_args,
    )
    return [sys.getrefcount(o) for o in objects]


def _singleton_refcounts() -> list[int]:
    # These are referenced from everywhere, so their counts drift by a few;
    # a reference leaked per call would add thousands.
    return [sys.getrefcount(o) for o in (None, True, False)]


def _failures(orch: tarnwick.Orchestrator, report: tarnwick.DetectionReport) -> None:
    for policy in BAD_POLICIES:
        with pytest.raises(RuntimeError):
            tarnwick.Orchestrator(policy)
    with pytest.raises(TypeError):
        orch.process("t", 1, 2, "{}")  # type: ignore[arg-type]
    with pytest.raises(TypeError):
        orch.process("t", 1, "search")  # type: ignore[call-arg]
    with pytest.raises(OverflowError):
        orch.process("t", -1, "search", "{}")
    with pytest.raises(UnicodeEncodeError):
        orch.process("t", 1, "search", "\ud800")
    with pytest.raises(TypeError):
        orch.record_intervention_outcome(None, "applied")  # type: ignore[arg-type]
    with pytest.raises(TypeError):
        tarnwick.canonicalize_args("{}", ("a",))  # type: ignore[arg-type]
    with pytest.raises(TypeError):
        tarnwick.Intervention()  # type: ignore[call-arg]
    orch.record_intervention_outcome(report, "no such outcome")


def _cycle(i: int, kept: list[object]) -> None:
    orch = tarnwick.Orchestrator(POLICY)
    report = None
    for step in range(4):
        intervention, report = orch.process(f"run-{i}", step, "search", '{"q": 1, "ts": %d}' % step)
        if intervention is not None:
            intervention.is_retry()
            intervention.delay_ms()
            intervention.reason()
    assert report is not None
    orch.record_intervention_outcome(report, "applied")
    orch.record_intervention_outcome(report, "rejected")
    metrics = orch.get_metrics()
    metrics.to_json()
    tarnwick.canonicalize_args('{"b": [1, {"ts": 2}], "a": "x"}', ["b.1.ts", "$.a", 5])
    _failures(orch, report)
    # Results outlive their orchestrator; keep the last few past its end.
    kept[:] = [report, metrics, intervention]
    del orch


def test_repeated_lifecycles_leave_nothing_behind(
    no_sidecar: None, monkeypatch: pytest.MonkeyPatch
) -> None:
    # Every new orchestrator logs that the sidecar is unreachable; captured
    # log records would be the only thing that grows.
    monkeypatch.setattr(logging.getLogger("tarnwick_observation.detection"), "disabled", True)
    kept: list[object] = []
    for i in range(200):  # warm every path and every cache
        _cycle(i, kept)
    kept.clear()
    gc.collect()
    tracemalloc.start()
    try:
        refs_before = _refcounts()
        singletons_before = _singleton_refcounts()
        objects_before = len(gc.get_objects())
        traced_before, _ = tracemalloc.get_traced_memory()
        rss_before = _rss_bytes()

        for i in range(CYCLES):
            _cycle(i, kept)
        kept.clear()

        gc.collect()
        refs_after = _refcounts()
        singletons_after = _singleton_refcounts()
        objects_after = len(gc.get_objects())
        traced_after, _ = tracemalloc.get_traced_memory()
        rss_after = _rss_bytes()
    finally:
        tracemalloc.stop()

    assert refs_after == refs_before
    for before, after in zip(singletons_before, singletons_after):
        assert abs(after - before) < CYCLES // 10, (singletons_before, singletons_after)
    assert objects_after - objects_before < 50
    assert traced_after - traced_before < 128 * 1024
    # Native allocations are not traced; a leak of even a few hundred bytes
    # per cycle would add megabytes here.
    assert rss_after - rss_before < 8 * 1024 * 1024, (rss_before, rss_after)
