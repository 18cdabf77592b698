"""Typical adapter code, checked with mypy --strict against the shipped stubs."""

from __future__ import annotations

import tarnwick


def guard_call(
    orchestrator: tarnwick.Orchestrator, run: str, step: int, tool: str, args_json: str
) -> int | None:
    """Returns the pause before retrying, or None to go on; raises to abort."""
    intervention, report = orchestrator.process(run, step, tool, args_json)
    if intervention is None:
        return None
    if report is not None:
        orchestrator.record_intervention_outcome(report, "applied")
    if intervention.is_abort():
        reason: str | None = intervention.reason()
        raise RuntimeError(reason or "aborted")
    if intervention.is_retry():
        return intervention.delay_ms()
    prompt: str | None = intervention.prompt_content()
    return 0 if prompt is None and intervention.is_continue() else None


def export_metrics(orchestrator: tarnwick.Orchestrator) -> tuple[int, int, int, str]:
    metrics: tarnwick.RecoveryMetrics = orchestrator.get_metrics()
    return (
        metrics.intervention_count(),
        metrics.prevented_calls(),
        metrics.recovery_time_ms(),
        metrics.to_json(),
    )


def main() -> None:
    orchestrator = tarnwick.Orchestrator(policy_yaml="policies: []")
    guard_call(orchestrator, "run-1", 0, "search", '{"q": "x"}')
    export_metrics(orchestrator)
    canonical: str = tarnwick.canonicalize_args('{"b": 1, "a": 2}', volatile_fields=["b"])
    print(canonical)


if __name__ == "__main__":
    main()
