"""Long runs keep memory bounded by the 100-event history window."""

from __future__ import annotations

import gc
import sys
import tracemalloc

import tarnwick

CALLS = 100_000
POLICY = "policies: [{name: r, when: {count: {exact_repeat: 3}}, do: {type: Retry}}]"


def _rss_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def _type_refcounts() -> list[int]:
    # Every live instance holds a reference to its heap type, so a leaked
    # result object shows up here even though these types are not tracked by
    # the garbage collector.
    return [
        sys.getrefcount(t)
        for t in (
            tarnwick.Orchestrator,
            tarnwick.Intervention,
            tarnwick.RecoveryMetrics,
            tarnwick.DetectionReport,
        )
    ]


def _run(orch: tarnwick.Orchestrator, start: int, count: int) -> int:
    interventions = 0
    for i in range(start, start + count):
        intervention, report = orch.process(f"t{i % 3}", i, "search", f'{{"q": {i % 7}, "ts": {i}}}')
        interventions += intervention is not None
        if i % 10 == 0:
            orch.get_metrics().to_json()
            tarnwick.canonicalize_args('{"b": [1, 2], "a": {"ts": 1}}', ["a.ts"])
        if i % 1000 == 0:
            try:
                orch.process("t", -1, "search", "{}")
            except OverflowError:
                pass
    return interventions


def test_many_calls_leave_no_growth_beyond_the_window(no_sidecar: None) -> None:
    orch = tarnwick.Orchestrator(POLICY)
    _run(orch, 0, 2_000)  # fills the window and warms every path
    gc.collect()
    tracemalloc.start()
    try:
        traced_before, _ = tracemalloc.get_traced_memory()
        objects_before = len(gc.get_objects())
        types_before = _type_refcounts()
        rss_before = _rss_bytes()

        interventions = _run(orch, 2_000, CALLS)

        gc.collect()
        traced_after, _ = tracemalloc.get_traced_memory()
        objects_after = len(gc.get_objects())
        types_after = _type_refcounts()
        rss_after = _rss_bytes()
    finally:
        tracemalloc.stop()

    assert interventions > CALLS // 2  # the policy really fired on most calls
    assert types_after == types_before
    assert objects_after - objects_before < 100
    assert traced_after - traced_before < 256 * 1024
    assert rss_after - rss_before < 16 * 1024 * 1024, (rss_before, rss_after)
