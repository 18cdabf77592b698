"""End-to-end calls through a real orchestrator, and the result classes."""

from __future__ import annotations

import gc
import json
import re

import pytest

import tarnwick
from conftest import NO_POLICY, THRESHOLD_POLICY


def policy(action: str, when: str = "{any: [exact_repeat]}") -> str:
    return f"policies: [{{name: p, when: {when}, do: {action}}}]"


@pytest.mark.parametrize(
    "text, detail",
    [
        ("not: [valid", "YAML parse error: "),
        ("", "YAML parse error: EOF while parsing a value"),
        ("policies: [{name: p, when: {}, do: {type: retry}}]", "Unknown action type: retry"),
    ],
)
def test_invalid_policy_raises_runtime_error_with_prefix(text: str, detail: str) -> None:
    with pytest.raises(RuntimeError) as info:
        tarnwick.Orchestrator(text)
    assert str(info.value).startswith("Failed to init orchestrator: " + detail)


def test_policy_fires_at_repeat_thresholds(no_sidecar: None) -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    results = [orch.process("t1", step, "search", '{"q": "x"}') for step in range(1, 5)]
    assert all(isinstance(report, tarnwick.DetectionReport) for _, report in results)
    first, second, third, fourth = (i for i, _ in results)
    assert first is None
    assert second is not None and repr(second) == "Backoff { base_ms: 100, attempt: 0 }"
    assert third is not None and repr(third) == 'Abort { reason: "looping" }'
    assert fourth is not None and fourth.is_abort()
    # Another tool, or arguments that differ in more than one key, start their
    # own count.
    assert orch.process("t1", 5, "fetch", '{"q": "x"}')[0] is None
    assert orch.process("t1", 6, "search", '{"q": "y", "page": 2}')[0] is None


def test_history_window_is_shared_by_all_thread_ids() -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    orch.process("run-a", 1, "search", "{}")
    intervention, _ = orch.process("run-b", 1, "search", "{}")
    assert intervention is not None and intervention.is_retry()


def test_invalid_argument_json_is_processed_as_null() -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    assert orch.process("t1", 1, "search", "{not json")[0] is None
    # "", "null" and another broken text all equal the first call's null.
    assert repr(orch.process("t1", 2, "search", "")[0]) == "Backoff { base_ms: 100, attempt: 0 }"
    assert orch.process("t1", 3, "search", "null")[0].is_abort()  # type: ignore[union-attr]
    assert orch.process("t1", 4, "search", "{} x")[0].is_abort()  # type: ignore[union-attr]


def test_keyword_call_behaves_like_positional_call() -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    orch.process("t1", 1, "search", "{}")
    intervention, report = orch.process(arguments="{}", tool_name="search", step=2, thread_id="t1")
    assert intervention is not None and intervention.delay_ms() == 100
    assert isinstance(report, tarnwick.DetectionReport)


# action -> (repr, is_retry, delay_ms) as Python sees it after the downgrade
DOWNGRADES = [
    ("{type: ReplaceTool, params: {original: a, replacement: b}}", "Retry { delay_ms: 0 }", True, 0),
    ("{type: InjectPrompt, params: {content: hi, prompt_id: p1}}", "Retry { delay_ms: 0 }", True, 0),
    ("{type: Retry, params: {delay_ms: 250}}", "Retry { delay_ms: 250 }", True, 250),
    ("{type: Retry}", "Retry { delay_ms: 0 }", True, 0),
    ("{type: Backoff}", "Backoff { base_ms: 500, attempt: 0 }", True, 500),
    ("{type: Abort}", 'Abort { reason: "Aborted by policy" }', False, None),
]


@pytest.mark.parametrize("action, text, is_retry, delay", DOWNGRADES)
def test_interventions_reach_python_fitted_to_retry_and_abort(
    action: str, text: str, is_retry: bool, delay: int | None
) -> None:
    intervention, _ = tarnwick.Orchestrator(policy(action)).process("t1", 1, "search", "{}")
    assert intervention is not None
    assert repr(intervention) == text
    assert intervention.is_retry() is is_retry
    assert intervention.delay_ms() == delay
    assert intervention.is_replace_tool() is False
    assert intervention.is_inject_prompt() is False
    assert intervention.prompt_content() is None


def test_abort_queries_and_escaped_reason() -> None:
    action = '{type: Abort, params: {reason: "say \\"stop\\"\\nnow"}}'
    intervention, _ = tarnwick.Orchestrator(policy(action)).process("t1", 1, "search", "{}")
    assert intervention is not None
    answers = [
        intervention.is_continue(),
        intervention.is_abort(),
        intervention.is_retry(),
        intervention.is_replace_tool(),
        intervention.is_inject_prompt(),
    ]
    assert answers == [False, True, False, False, False]
    assert intervention.reason() == 'say "stop"\nnow'
    assert intervention.delay_ms() is None
    assert intervention.prompt_content() is None
    assert repr(intervention) == 'Abort { reason: "say \\"stop\\"\\nnow" }'


def test_large_backoff_delay_is_an_exact_int() -> None:
    action = "{type: Backoff, params: {base_ms: 18446744073709551615}}"
    intervention, _ = tarnwick.Orchestrator(policy(action)).process("t1", 1, "search", "{}")
    assert intervention is not None and intervention.delay_ms() == 2**64 - 1


def test_detection_report_is_opaque() -> None:
    _, report = tarnwick.Orchestrator(NO_POLICY).process("t1", 1, "search", "{}")
    assert [name for name in dir(report) if not name.startswith("__")] == []
    assert re.fullmatch(r"<DetectionReport object at 0x[0-9a-f]+>", repr(report))


def test_fresh_metrics_are_zero() -> None:
    metrics = tarnwick.Orchestrator(NO_POLICY).get_metrics()
    assert metrics.intervention_count() == 0
    assert metrics.prevented_calls() == 0
    assert metrics.recovery_time_ms() == 0
    assert repr(metrics) == "RecoveryMetrics(count=0, prevented=0)"
    document = json.loads(metrics.to_json())
    assert list(document) == [
        "execution_id",
        "started_at",
        "runtime_ms",
        "intervention_count",
        "recovery_time_ms",
        "prevented_calls",
        "loop_duration_ms",
        "detection_breakdown",
        "events",
    ]
    assert document["detection_breakdown"] == {} and document["events"] == []


@pytest.mark.parametrize(
    "word, recorded",
    [
        ("applied", "applied"),
        ("unsupported", "unsupported"),
        ("rejected", "failed"),
        ("failed", "failed"),
        ("APPLIED", "failed"),
        ("", "failed"),
    ],
)
def test_outcome_words_map_to_outcomes(word: str, recorded: str) -> None:
    orch = tarnwick.Orchestrator(NO_POLICY)
    _, report = orch.process("t1", 1, "search", "{}")
    assert report is not None
    orch.record_intervention_outcome(report, word)
    document = json.loads(orch.get_metrics().to_json())
    (event,) = document["events"]
    assert event["InterventionApplied"]["outcome"] == recorded
    assert "downgraded_from" not in event["InterventionApplied"]


def test_metrics_are_independent_snapshots(no_sidecar: None) -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    before = orch.get_metrics()
    before_json = before.to_json()
    _, report = orch.process("t1", 1, "search", "{}")
    assert report is not None
    orch.record_intervention_outcome(report, "applied")
    orch.record_intervention_outcome(report=report, outcome="rejected")
    after = orch.get_metrics()

    assert before is not after and orch.get_metrics() is not after
    assert before.intervention_count() == 0 and before.to_json() == before_json
    assert after.intervention_count() == 2
    assert repr(after) == "RecoveryMetrics(count=2, prevented=0)"
    document = json.loads(after.to_json())
    assert document["execution_id"] == json.loads(before_json)["execution_id"]
    assert document["detection_breakdown"] == {"exact_repeat": 2}
    assert [e["InterventionApplied"]["outcome"] for e in document["events"]] == ["applied", "failed"]
    assert after.to_json() == after.to_json()


def test_results_outlive_their_orchestrator_and_work_across_orchestrators() -> None:
    orch = tarnwick.Orchestrator(policy("{type: Retry, params: {delay_ms: 5}}"))
    intervention, report = orch.process("t1", 1, "search", "{}")
    metrics = orch.get_metrics()
    first_id = json.loads(metrics.to_json())["execution_id"]
    del orch
    gc.collect()
    assert intervention is not None and intervention.delay_ms() == 5
    assert metrics.intervention_count() == 0

    other = tarnwick.Orchestrator(NO_POLICY)
    assert report is not None
    other.record_intervention_outcome(report, "applied")
    document = json.loads(other.get_metrics().to_json())
    # The event carries the recording orchestrator's execution id.
    assert document["events"][0]["InterventionApplied"]["execution_id"] == document["execution_id"]
    assert document["execution_id"] != first_id


def test_without_sidecar_reports_hold_no_semantic_detection(no_sidecar: None) -> None:
    orch = tarnwick.Orchestrator(NO_POLICY)
    _, report = orch.process("t1", 1, "search", "{}")
    assert report is not None
    orch.record_intervention_outcome(report, "applied")
    document = json.loads(orch.get_metrics().to_json())
    assert document["detection_breakdown"] == {"exact_repeat": 1}


def test_sidecar_loop_answer_adds_a_semantic_detection(sidecar) -> None:  # type: ignore[no-untyped-def]
    sidecar.answer("loop")
    orch = tarnwick.Orchestrator(policy("{type: Abort}", when="{any: [semantic_repeat]}"))
    intervention, report = orch.process("t1", 1, "search", "{}")
    assert intervention is not None and intervention.is_abort()
    assert report is not None
    orch.record_intervention_outcome(report, "applied")
    document = json.loads(orch.get_metrics().to_json())
    assert document["events"][0]["InterventionApplied"]["detection_kinds"] == [
        "exact_repeat",
        "semantic_repeat",
    ]
