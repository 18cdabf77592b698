"""Argument binding, conversion failures and borrow states of every callable."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import pytest

import tarnwick
from conftest import NO_POLICY, THRESHOLD_POLICY

ORCH = tarnwick.Orchestrator(NO_POLICY)
_, REPORT = ORCH.process("t1", 1, "search", "{}")

NEW = "Orchestrator.__new__()"
PROCESS = "Orchestrator.process()"
RECORD = "Orchestrator.record_intervention_outcome()"
CANON = "canonicalize_args()"

BINDING_FAILURES: list[tuple[Callable[..., Any], tuple[Any, ...], dict[str, Any], str]] = [
    # missing arguments: one, two, several; the English list of names
    (tarnwick.Orchestrator, (), {}, f"{NEW} missing 1 required positional argument: 'policy_yaml'"),
    (
        ORCH.process,
        (),
        {},
        f"{PROCESS} missing 4 required positional arguments: "
        "'thread_id', 'step', 'tool_name' and 'arguments'",
    ),
    (
        ORCH.process,
        ("t1",),
        {"arguments": "{}"},
        f"{PROCESS} missing 2 required positional arguments: 'step' and 'tool_name'",
    ),
    (
        ORCH.record_intervention_outcome,
        (),
        {},
        f"{RECORD} missing 2 required positional arguments: 'report' and 'outcome'",
    ),
    (tarnwick.canonicalize_args, ("{}",), {}, f"{CANON} missing 1 required positional argument: 'volatile_fields'"),
    # too many positional arguments
    (tarnwick.Orchestrator, ("a", "b"), {}, f"{NEW} takes 1 positional arguments but 2 were given"),
    (ORCH.process, ("t", 1, "x", "{}", 5), {}, f"{PROCESS} takes 4 positional arguments but 5 were given"),
    (tarnwick.canonicalize_args, ("{}", [], 1), {}, f"{CANON} takes 2 positional arguments but 3 were given"),
    # unknown keyword, also when all parameters are given
    (tarnwick.Orchestrator, (), {"policy": "x"}, f"{NEW} got an unexpected keyword argument 'policy'"),
    (tarnwick.canonicalize_args, ("{}", []), {"extra": 1}, f"{CANON} got an unexpected keyword argument 'extra'"),
    # one parameter given twice
    (tarnwick.Orchestrator, ("x",), {"policy_yaml": "y"}, f"{NEW} got multiple values for argument 'policy_yaml'"),
    (
        ORCH.record_intervention_outcome,
        (REPORT, "applied"),
        {"outcome": "applied"},
        f"{RECORD} got multiple values for argument 'outcome'",
    ),
]


@pytest.mark.parametrize("func, args, kwargs, message", BINDING_FAILURES)
def test_binding_failures_raise_type_error_naming_the_callable(
    func: Callable[..., Any], args: tuple[Any, ...], kwargs: dict[str, Any], message: str
) -> None:
    with pytest.raises(TypeError) as info:
        func(*args, **kwargs)
    assert str(info.value) == message


def test_parameterless_methods_reject_arguments() -> None:
    with pytest.raises(TypeError):
        ORCH.get_metrics(1)  # type: ignore[call-arg]


CONVERSION_FAILURES: list[tuple[Callable[..., Any], tuple[Any, ...], str, str]] = [
    (tarnwick.Orchestrator, (5,), "policy_yaml", "'int' object cannot be converted to 'str'"),
    (ORCH.process, (None, 1, "x", "{}"), "thread_id", "'NoneType' object cannot be converted to 'str'"),
    (ORCH.process, ("t", "1", "x", "{}"), "step", "'str' object cannot be interpreted as an integer"),
    (ORCH.process, ("t", 1.0, "x", "{}"), "step", "'float' object cannot be interpreted as an integer"),
    (ORCH.process, ("t", 1, b"x", "{}"), "tool_name", "'bytes' object cannot be converted to 'str'"),
    (ORCH.process, ("t", 1, "x", {}), "arguments", "'dict' object cannot be converted to 'str'"),
    # conversions run in parameter order: the first bad one is reported
    (ORCH.process, (1, "x", 2, 3), "thread_id", "'int' object cannot be converted to 'str'"),
    (ORCH.process, ("t", None, 2, 3), "step", "'NoneType' object cannot be interpreted as an integer"),
    (
        ORCH.record_intervention_outcome,
        (None, "applied"),
        "report",
        "'NoneType' object cannot be converted to 'DetectionReport'",
    ),
    (
        ORCH.record_intervention_outcome,
        (ORCH.get_metrics(), "applied"),
        "report",
        "'RecoveryMetrics' object cannot be converted to 'DetectionReport'",
    ),
    (ORCH.record_intervention_outcome, (REPORT, 5), "outcome", "'int' object cannot be converted to 'str'"),
    (tarnwick.canonicalize_args, (1, []), "args_json", "'int' object cannot be converted to 'str'"),
    (tarnwick.canonicalize_args, ("{}", ("a",)), "volatile_fields", "'tuple' object cannot be converted to 'list'"),
    (tarnwick.canonicalize_args, ("{}", None), "volatile_fields", "'NoneType' object cannot be converted to 'list'"),
]


@pytest.mark.parametrize("func, args, param, text", CONVERSION_FAILURES)
def test_conversion_type_errors_are_prefixed_with_the_parameter(
    func: Callable[..., Any], args: tuple[Any, ...], param: str, text: str
) -> None:
    with pytest.raises(TypeError) as info:
        func(*args)
    assert str(info.value) == f"argument '{param}': {text}"
    cause = info.value.__cause__
    assert type(cause) is TypeError
    assert str(cause) == text


class _IndexRaises:
    def __index__(self) -> int:
        raise ValueError("no index today")


PASS_THROUGH: list[tuple[Callable[..., Any], tuple[Any, ...], type[BaseException]]] = [
    (ORCH.process, ("t", -1, "x", "{}"), OverflowError),
    (ORCH.process, ("t", 2**64, "x", "{}"), OverflowError),
    (ORCH.process, ("t", _IndexRaises(), "x", "{}"), ValueError),
    (ORCH.process, ("\ud800", 1, "x", "{}"), UnicodeEncodeError),
    (ORCH.process, ("t", 1, "x", '{"a":"\udfff"}'), UnicodeEncodeError),
    (tarnwick.Orchestrator, ("\ud800",), UnicodeEncodeError),
    (ORCH.record_intervention_outcome, (REPORT, "appl\ud800ied"), UnicodeEncodeError),
    (tarnwick.canonicalize_args, ("\ud800", []), UnicodeEncodeError),
    (tarnwick.canonicalize_args, ("{}", ["ok", "\ud800"]), UnicodeEncodeError),
]


@pytest.mark.parametrize("func, args, error", PASS_THROUGH)
def test_other_conversion_errors_pass_through_unprefixed(
    func: Callable[..., Any], args: tuple[Any, ...], error: type[BaseException]
) -> None:
    with pytest.raises(error) as info:
        func(*args)
    assert type(info.value) is error
    assert "argument '" not in str(info.value)


class _Index:
    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


@pytest.mark.parametrize("step", [0, True, 2**64 - 1, _Index(7)])
def test_step_accepts_anything_with_index_up_to_u64_max(step: Any) -> None:
    intervention, report = tarnwick.Orchestrator(NO_POLICY).process("t", step, "x", "{}")
    assert intervention is None
    assert isinstance(report, tarnwick.DetectionReport)


def test_failed_call_leaves_the_orchestrator_unchanged() -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    for bad in [("t", -1, "search", "{}"), ("t", 1, None, "{}"), ("t", 1, "search", None)]:
        with pytest.raises((OverflowError, TypeError)):
            orch.process(*bad)
    # Had any of them reached the history, this would be a repeat.
    intervention, _ = orch.process("t", 1, "search", "{}")
    assert intervention is None


class _Reentrant:
    """An index whose conversion calls back into the orchestrator being used."""

    def __init__(self, orch: tarnwick.Orchestrator, report: tarnwick.DetectionReport) -> None:
        self.orch = orch
        self.report = report
        self.errors: dict[str, str] = {}

    def __index__(self) -> int:
        calls: dict[str, Callable[[], object]] = {
            "process": lambda: self.orch.process("t", 1, "search", "{}"),
            "record": lambda: self.orch.record_intervention_outcome(self.report, "applied"),
            "get_metrics": self.orch.get_metrics,
        }
        for name, call in calls.items():
            try:
                call()
            except RuntimeError as e:
                self.errors[name] = str(e)
        return 1


def test_reentrant_calls_during_conversion_fail_with_borrow_errors(
    report: tarnwick.DetectionReport,
) -> None:
    orch = tarnwick.Orchestrator(THRESHOLD_POLICY)
    step = _Reentrant(orch, report)
    intervention, _ = orch.process("t", step, "search", "{}")
    assert step.errors == {
        "process": "Already borrowed",
        "record": "Already borrowed",
        "get_metrics": "Already mutably borrowed",
    }
    # The inner calls changed nothing: this is the first call in the history.
    assert intervention is None
    assert orch.get_metrics().intervention_count() == 0
    # And the borrow was released: the next call sees one earlier call.
    intervention, _ = orch.process("t", 2, "search", "{}")
    assert intervention is not None and intervention.delay_ms() == 100


def test_borrow_error_escaping_a_conversion_is_not_rewrapped() -> None:
    orch = tarnwick.Orchestrator(NO_POLICY)

    class Escaping:
        def __index__(self) -> int:
            orch.process("t", 1, "search", "{}")
            return 1

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        orch.process("t", Escaping(), "search", "{}")
    # Released on the error path as well.
    assert orch.process("t", 1, "search", "{}")[1] is not None


def test_reentrant_call_on_another_orchestrator_is_allowed() -> None:
    outer = tarnwick.Orchestrator(NO_POLICY)
    inner = tarnwick.Orchestrator(NO_POLICY)
    seen: list[object] = []

    class Other:
        def __index__(self) -> int:
            seen.append(inner.process("t", 1, "search", "{}"))
            return 1

    outer.process("t", Other(), "search", "{}")
    assert len(seen) == 1
