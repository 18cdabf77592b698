#!/usr/bin/env python3
"""Replay a recorded agent trace through a tarnwick Orchestrator.

Each line of the trace is a JSON object with "thread_id", "step",
"tool_name", "arguments" (a JSON value, or a string holding JSON text) and an
optional "outcome" (what happened when the adapter applied the intervention:
"applied", "unsupported", "rejected", "failed"; default "applied"). For every
call the replay prints one table row, then the recovery metrics JSON and a
summary.

    python3 examples/replay.py examples/trace.jsonl --policy examples/policy.yaml \
        --with-sidecar --sidecar-outage 9-13
"""

from __future__ import annotations

import argparse
import json
import logging
import os
import re
import socket
import subprocess
import sys
import time
from collections import Counter
from dataclasses import dataclass
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
SIDECAR_ADDR = ("127.0.0.1", 8081)


class ReplayError(Exception):
    """A problem with the replay's input, reported as one line."""


@dataclass
class Call:
    line: int
    thread_id: str
    step: int
    tool_name: str
    arguments: str
    outcome: str


def read_trace(path: Path) -> list[Call]:
    try:
        text = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        raise ReplayError(f"trace file not found: {path}") from None
    except (OSError, UnicodeDecodeError) as e:
        raise ReplayError(f"cannot read trace file {path}: {e}") from None
    calls = []
    for number, raw in enumerate(text.splitlines(), start=1):
        if not raw.strip():
            continue
        where = f"{path}:{number}"
        try:
            obj = json.loads(raw)
        except ValueError as e:
            raise ReplayError(f"{where}: not a JSON object: {e}") from None
        if not isinstance(obj, dict):
            raise ReplayError(f"{where}: expected a JSON object")
        for key, kind in (("thread_id", str), ("step", int), ("tool_name", str)):
            if key not in obj:
                raise ReplayError(f"{where}: missing key {key!r}")
            if not isinstance(obj[key], kind) or isinstance(obj[key], bool):
                raise ReplayError(f"{where}: {key!r} must be a {kind.__name__}")
        if obj["step"] < 0:
            raise ReplayError(f"{where}: 'step' must not be negative")
        if "arguments" not in obj:
            raise ReplayError(f"{where}: missing key 'arguments'")
        args = obj["arguments"]
        args_text = args if isinstance(args, str) else json.dumps(args)
        outcome = obj.get("outcome", "applied")
        if not isinstance(outcome, str):
            raise ReplayError(f"{where}: 'outcome' must be a string")
        calls.append(Call(number, obj["thread_id"], obj["step"], obj["tool_name"], args_text, outcome))
    return calls


class Sidecar:
    """The toy sidecar of examples/sidecar.py, run as a child process."""

    def __init__(self) -> None:
        self.proc: subprocess.Popen[bytes] | None = None

    def start(self) -> None:
        if _port_open():
            raise ReplayError(f"port {SIDECAR_ADDR[1]} is already in use; stop whatever listens there")
        self.proc = subprocess.Popen(
            [sys.executable, str(HERE / "sidecar.py"), "--port", str(SIDECAR_ADDR[1])],
            stdout=subprocess.DEVNULL,
        )
        deadline = time.monotonic() + 10
        while not _port_open():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise ReplayError("the toy sidecar did not start")
            time.sleep(0.05)

    def stop(self) -> None:
        if self.proc is not None:
            self.proc.terminate()
            self.proc.wait(timeout=10)
            self.proc = None


def _port_open() -> bool:
    with socket.socket() as s:
        s.settimeout(0.2)
        return s.connect_ex(SIDECAR_ADDR) == 0


class Style:
    def __init__(self, enabled: bool) -> None:
        self.enabled = enabled

    def __call__(self, text: str, code: str) -> str:
        return f"\033[{code}m{text}\033[0m" if self.enabled else text


class DetectionProbe:
    """Reads which detections a report holds.

    A DetectionReport is opaque in Python, but any orchestrator accepts it in
    record_intervention_outcome and logs its detection kinds in the metrics;
    a private orchestrator with no policies serves as the probe.
    """

    SHORT = {"exact_repeat": "exact", "semantic_repeat": "semantic", "error_pattern": "errors",
             "rule_violation": "rule"}

    def __init__(self, tarnwick: Any) -> None:
        self.orchestrator = tarnwick.Orchestrator("policies: []")

    def kinds(self, report: Any) -> list[str]:
        if report is None:
            return []
        self.orchestrator.record_intervention_outcome(report, "applied")
        events = json.loads(self.orchestrator.get_metrics().to_json())["events"]
        return list(events[-1]["InterventionApplied"]["detection_kinds"])


INTERVENTION_RE = re.compile(r"^(\w+)")


def intervention_text(intervention: Any) -> tuple[str, str]:
    if intervention is None:
        return "-", ""
    kind = INTERVENTION_RE.match(repr(intervention))
    name = kind.group(1) if kind else repr(intervention)
    delay = intervention.delay_ms()
    detail = ""
    if intervention.is_abort():
        detail = f"reason: {intervention.reason()}"
    return name + (f" ({detail})" if detail else ""), "" if delay is None else f"{delay} ms"


def parse_outage(text: str | None) -> tuple[int, int] | None:
    if text is None:
        return None
    m = re.fullmatch(r"(\d+)-(\d+)", text)
    if not m or int(m.group(1)) >= int(m.group(2)):
        raise ReplayError(f"--sidecar-outage must look like FIRST-LAST with FIRST < LAST, not {text!r}")
    return int(m.group(1)), int(m.group(2))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Replay an agent trace through tarnwick.")
    parser.add_argument("trace", type=Path, help="JSON Lines trace file")
    parser.add_argument("--policy", type=Path, default=HERE / "policy.yaml", help="policy YAML file")
    parser.add_argument("--with-sidecar", action="store_true", help="run the toy semantic sidecar")
    parser.add_argument(
        "--sidecar-outage",
        metavar="FIRST-LAST",
        help="stop the sidecar before step FIRST and start it again before step LAST",
    )
    args = parser.parse_args(argv)

    try:
        import tarnwick
    except ImportError as e:
        print(f"error: the tarnwick module is not installed ({e}); run 'pip install .' first", file=sys.stderr)
        return 2

    style = Style(sys.stdout.isatty() and os.environ.get("NO_COLOR") is None)
    # Sidecar log events arrive through Python logging.
    handler = logging.StreamHandler(sys.stdout)
    handler.setFormatter(logging.Formatter("      %(levelname)s %(name)s: %(message)s"))
    logging.getLogger("tarnwick_observation").addHandler(handler)
    logging.getLogger("tarnwick_observation").setLevel(logging.INFO)

    sidecar = Sidecar()
    try:
        outage = parse_outage(args.sidecar_outage)
        calls = read_trace(args.trace)
        try:
            policy = args.policy.read_text(encoding="utf-8")
        except (OSError, UnicodeDecodeError) as e:
            raise ReplayError(f"cannot read policy file {args.policy}: {e.strerror or e}") from None
        try:
            orchestrator = tarnwick.Orchestrator(policy)
        except RuntimeError as e:
            raise ReplayError(f"invalid policy {args.policy}: {e}") from None

        if args.with_sidecar:
            sidecar.start()
            print(style("toy semantic sidecar listening on 127.0.0.1:8081", "2"))
        else:
            print(style("no sidecar: semantic detection runs in shadow mode", "2"))

        probe = DetectionProbe(tarnwick)
        fired: Counter[str] = Counter()
        header = f"{'step':>4}  {'tool':<13} {'detections':<17} {'intervention':<48} {'delay':>7}"
        print(style(header, "1"))
        print("-" * len(header))
        interventions: Counter[str] = Counter()
        for call in calls:
            if outage and args.with_sidecar:
                if call.step == outage[0]:
                    sidecar.stop()
                    print(style("      -- sidecar stopped --", "33"))
                elif call.step == outage[1]:
                    sidecar.start()
                    print(style("      -- sidecar started again --", "33"))
            intervention, report = orchestrator.process(call.thread_id, call.step, call.tool_name, call.arguments)
            text, delay = intervention_text(intervention)
            kinds = probe.kinds(report)
            fired.update(kinds)
            # Exact detection reports every call (count 1 = first time); show
            # it only when something else fired or a policy acted.
            shown = [DetectionProbe.SHORT.get(k, k) for k in kinds]
            if intervention is None and shown == ["exact"]:
                shown = []
            detections = "+".join(shown) or "-"
            colour = "0"
            if intervention is not None:
                interventions[text.split(" ")[0]] += 1
                colour = "31" if intervention.is_abort() else "33"
                orchestrator.record_intervention_outcome(report, call.outcome)
            print(
                f"{call.step:>4}  {call.tool_name[:13]:<13} {detections[:17]:<17} "
                f"{style(f'{text[:48]:<48}', colour)} {delay:>7}"
            )
        metrics = orchestrator.get_metrics()
        document = metrics.to_json()
        print()
        print(style("recovery metrics", "1"))
        print(document)
        breakdown = json.loads(document)["detection_breakdown"]
        print()
        print(style("summary", "1"))
        print(f"  calls replayed:         {len(calls)}")
        print(f"  interventions:          {sum(interventions.values())}", end="")
        print("".join(f", {k} {v}" for k, v in sorted(interventions.items())))
        print("  detections reported:    " + (", ".join(f"{k} {v}" for k, v in sorted(fired.items())) or "none"))
        print(
            "  behind interventions:   "
            + (", ".join(f"{k} {v}" for k, v in sorted(breakdown.items())) or "none")
        )
        print(f"  {metrics!r}")
        return 0
    except ReplayError as e:
        print(f"error: {e}", file=sys.stderr)
        return 2
    finally:
        sidecar.stop()


if __name__ == "__main__":
    sys.exit(main())
