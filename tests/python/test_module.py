"""Module shape and the properties shared by the four classes."""

from __future__ import annotations

import importlib
import pathlib
import subprocess
import sys
import weakref

import pytest

import tarnwick

CLASSES = ["Orchestrator", "Intervention", "RecoveryMetrics", "DetectionReport"]


def test_module_attributes_in_order() -> None:
    public = [name for name in vars(tarnwick) if not name.startswith("__")]
    assert public == [*CLASSES, "canonicalize_args"]
    assert tarnwick.__doc__ == ""


def test_reimport_returns_the_same_module_object() -> None:
    original = sys.modules.pop("tarnwick")
    try:
        again = importlib.import_module("tarnwick")
        assert again is original
        assert again.Orchestrator is original.Orchestrator
    finally:
        sys.modules["tarnwick"] = original


SUBINTERPRETER_SCRIPT = """
import sys
import tarnwick
try:
    import _testcapi
except ImportError:
    print("SKIP: this interpreter has no _testcapi")
    sys.exit(0)
code = (
    "import sys\\n"
    "sys.path[:0] = " + repr(sys.path) + "\\n"
    "try:\\n"
    "    import tarnwick\\n"
    "except ImportError as e:\\n"
    "    result = 'ImportError: ' + str(e)\\n"
    "else:\\n"
    "    result = 'imported'\\n"
    "open(sys.argv[1], 'w').write(result)\\n"
).replace("sys.argv[1]", repr(sys.argv[1]))
_testcapi.run_in_subinterp(code)
print(open(sys.argv[1]).read())
tarnwick.canonicalize_args("{}", [])
"""


def test_import_in_a_subinterpreter_raises_import_error(tmp_path: pathlib.Path) -> None:
    # A child process, so that a failing sub-interpreter cannot take the test
    # session down with it.
    result_file = tmp_path / "result"
    out = subprocess.run(
        [sys.executable, "-c", SUBINTERPRETER_SCRIPT, str(result_file)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert out.returncode == 0, out.stderr
    if out.stdout.startswith("SKIP"):
        pytest.skip(out.stdout.strip())
    assert out.stdout.startswith("ImportError: "), out.stdout + out.stderr


@pytest.mark.parametrize("name", CLASSES)
def test_class_names_are_bare(name: str) -> None:
    cls = getattr(tarnwick, name)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert repr(cls) == f"<class '{name}'>"


@pytest.mark.parametrize("name", CLASSES)
def test_classes_refuse_subclassing(name: str) -> None:
    with pytest.raises(TypeError):
        type("Sub", (getattr(tarnwick, name),), {})


@pytest.mark.parametrize("name", ["Intervention", "RecoveryMetrics", "DetectionReport"])
@pytest.mark.parametrize("args", [(), (1,), ("x", "y")])
def test_result_classes_have_no_constructor(name: str, args: tuple[object, ...]) -> None:
    with pytest.raises(TypeError) as info:
        getattr(tarnwick, name)(*args)
    assert str(info.value) == f"No constructor defined for {name}"


def _instances() -> dict[str, object]:
    orchestrator = tarnwick.Orchestrator(
        "policies: [{name: r, when: {any: [exact_repeat]}, do: {type: Retry}}]"
    )
    intervention, report = orchestrator.process("t1", 1, "search", "{}")
    return {
        "Orchestrator": orchestrator,
        "Intervention": intervention,
        "RecoveryMetrics": orchestrator.get_metrics(),
        "DetectionReport": report,
    }


@pytest.mark.parametrize("name", CLASSES)
def test_instances_have_no_dict_and_no_weakrefs(name: str) -> None:
    obj = _instances()[name]
    assert type(obj).__name__ == name
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.extra = 1  # type: ignore[attr-defined]
    with pytest.raises(TypeError):
        weakref.ref(obj)


TEXT_SIGNATURES = [
    (tarnwick.Orchestrator, "(policy_yaml)"),
    (tarnwick.Orchestrator.process, "($self, thread_id, step, tool_name, arguments)"),
    (tarnwick.Orchestrator.record_intervention_outcome, "($self, report, outcome)"),
    (tarnwick.Orchestrator.get_metrics, "($self)"),
    (tarnwick.canonicalize_args, "(args_json, volatile_fields)"),
    *[
        (getattr(tarnwick.Intervention, m), "($self)")
        for m in [
            "is_continue",
            "is_abort",
            "is_retry",
            "is_replace_tool",
            "is_inject_prompt",
            "reason",
            "delay_ms",
            "prompt_content",
        ]
    ],
    *[
        (getattr(tarnwick.RecoveryMetrics, m), "($self)")
        for m in ["intervention_count", "prevented_calls", "recovery_time_ms", "to_json"]
    ],
]


@pytest.mark.parametrize(
    "obj, signature", TEXT_SIGNATURES, ids=[getattr(o, "__qualname__", "") for o, _ in TEXT_SIGNATURES]
)
def test_docs_hold_only_text_signatures(obj: object, signature: str) -> None:
    assert obj.__text_signature__ == signature  # type: ignore[attr-defined]
    # The documentation carries no prose: the interpreter reports it as empty.
    assert not obj.__doc__


@pytest.mark.parametrize("name", ["Intervention", "RecoveryMetrics", "DetectionReport"])
def test_result_classes_have_no_class_doc(name: str) -> None:
    assert getattr(tarnwick, name).__doc__ is None


@pytest.mark.parametrize(
    "cls, methods",
    [
        (
            tarnwick.Intervention,
            [
                "is_continue",
                "is_abort",
                "is_retry",
                "is_replace_tool",
                "is_inject_prompt",
                "reason",
                "delay_ms",
                "prompt_content",
            ],
        ),
        (tarnwick.RecoveryMetrics, ["intervention_count", "prevented_calls", "recovery_time_ms", "to_json"]),
        (tarnwick.DetectionReport, []),
        (tarnwick.Orchestrator, ["process", "record_intervention_outcome", "get_metrics"]),
    ],
)
def test_classes_define_exactly_their_methods_in_order(cls: type, methods: list[str]) -> None:
    own = [name for name in vars(cls) if not name.startswith("__")]
    assert own == methods
