"""canonicalize_args: examples and agreement with Python's own json module."""

from __future__ import annotations

import json
from typing import Any

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarnwick import canonicalize_args


class StrSubclass(str):
    pass


class ListSubclass(list):  # type: ignore[type-arg]
    pass


@pytest.mark.parametrize(
    "args_json, fields, expected",
    [
        ('{"b":1,"a":2}', [], '{"a":2,"b":1}'),
        ('{"b": 1, "a": [true, null], "ts": 5}', ["ts"], '{"a":[true,null],"b":1}'),
        ("x", [], "null"),
        ("", [], "null"),
        ("{} x", [], "null"),
        ('{"a":1,"a":2}', [], '{"a":2}'),
        ("[3,1,2]", [], "[3,1,2]"),
        ("1.0", [], "1.0"),
        ('{"a":1}', ["a", 5], "{}"),  # non-str items are skipped
        ('{"a":1,"b":2}', [None, b"a", "b"], '{"a":1}'),
        ('{"a":{"b":1,"c":2},"x":[{"id":7}]}', ["$.a.b", "x.0.id"], '{"a":{"c":2},"x":[{}]}'),
        ('{"a":1}', ListSubclass(["a"]), "{}"),
        ('{"a":1}', [StrSubclass("a")], "{}"),
        (StrSubclass('{"é":"\\u00e9\\n"}'), [], '{"é":"é\\n"}'),
    ],
)
def test_canonical_text(args_json: str, fields: list[Any], expected: str) -> None:
    assert canonicalize_args(args_json, fields) == expected


def test_keyword_call() -> None:
    assert canonicalize_args(volatile_fields=["b"], args_json='{"a":1,"b":2}') == '{"a":1}'


# Values on which Python's json module and the library write the same text:
# no floats (their shortest forms are spelled differently) and integers that
# fit 64 bits (larger ones are read as floats). Keys may be any text: byte
# order of UTF-8 and Python's code point order agree.
texts = st.text(st.characters(exclude_categories=["Cs"]), max_size=8)
json_values = st.recursive(
    st.none() | st.booleans() | st.integers(-(2**63), 2**64 - 1) | texts,
    lambda children: st.lists(children, max_size=4) | st.dictionaries(texts, children, max_size=4),
    max_leaves=20,
)


def _python_canonical(value: Any) -> str:
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


@settings(max_examples=300, deadline=None)
@given(json_values, st.sampled_from([None, 2]), st.booleans())
def test_agrees_with_python_json(value: Any, indent: int | None, ascii_only: bool) -> None:
    text = json.dumps(value, indent=indent, ensure_ascii=ascii_only)
    assert canonicalize_args(text, []) == _python_canonical(json.loads(text))


@settings(max_examples=200, deadline=None)
@given(st.dictionaries(texts.filter(lambda k: "." not in k), json_values, min_size=1, max_size=5), st.data())
def test_top_level_volatile_field_is_removed(value: dict[str, Any], data: st.DataObject) -> None:
    key = data.draw(st.sampled_from(sorted(value)))
    expected = _python_canonical({k: v for k, v in value.items() if k != key})
    assert canonicalize_args(json.dumps(value), [key]) == expected
    assert canonicalize_args(json.dumps(value), ["$." + key]) == expected
