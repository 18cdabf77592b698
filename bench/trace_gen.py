#!/usr/bin/env python3
"""Seeded generator of realistic agent tool-call traces.

The one source of tool calls for every benchmark: the C++ orchestrator
benchmark reads the JSON Lines file this script writes, and python_bench.py
imports generate() directly, so both time the same calls for the same seed.

Each line is one call: {"thread_id": str, "step": int, "tool_name": str,
"arguments": str}, where "arguments" is the JSON text an adapter would pass.
The calls use eight tools whose arguments are objects of 3 to 10 keys holding
strings, numbers and small nested values; three tools carry a volatile
"request_id" or "ts" key that changes on every call, and the agent now and
then falls into a run of repeats of its previous call.

    python3 trace_gen.py --seed 7 --calls 5000 --out trace.jsonl
"""

import argparse
import json
import random
import sys

DEFAULT_SEED = 20260
DEFAULT_CALLS = 5000

WORDS = (
    "alpha beta gamma delta config cache retry timeout parser build deploy "
    "latency error invoice customer report weekly summary kernel socket "
    "thread budget quarterly release notes migration schema index query"
).split()
PATHS = ("src/main.cc", "README.md", "docs/api.md", "tests/test_io.py", "Cargo.toml",
         "config/app.yaml", "scripts/run.sh", "data/users.csv")
HOSTS = ("api.example.com", "status.example.org", "internal.svc", "cdn.example.net")
TABLES = ("orders", "users", "events", "invoices")


def _words(rng, lo, hi):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(lo, hi)))


def _request_id(rng):
    return "%08x-%04x-4%03x-%04x-%012x" % (rng.getrandbits(32), rng.getrandbits(16),
                                           rng.getrandbits(12), rng.getrandbits(16),
                                           rng.getrandbits(48))


# One builder per tool: (rng, clock) -> arguments dict. Keys are written in
# the order an LLM would produce them, not sorted.
def _search(rng, clock):
    args = {"query": _words(rng, 2, 6), "limit": rng.choice((5, 10, 20)),
            "request_id": _request_id(rng)}
    if rng.random() < 0.5:
        args["filters"] = {"lang": rng.choice(("en", "de", "fr")), "recent": rng.random() < 0.5}
    if rng.random() < 0.3:
        args["offset"] = rng.randint(0, 50)
    return args


def _read_file(rng, clock):
    args = {"path": rng.choice(PATHS), "encoding": "utf-8", "max_bytes": 65536}
    if rng.random() < 0.4:
        start = rng.randint(1, 400)
        args["lines"] = [start, start + rng.randint(10, 80)]
    return args


def _write_file(rng, clock):
    return {"path": rng.choice(PATHS), "content": _words(rng, 8, 30), "mode": "overwrite",
            "create_dirs": rng.random() < 0.5, "ts": clock}


def _http_get(rng, clock):
    args = {"url": "https://%s/v1/%s" % (rng.choice(HOSTS), rng.choice(WORDS)),
            "headers": {"accept": "application/json", "x-trace": rng.choice(WORDS)},
            "timeout_s": rng.choice((5, 10, 30)), "retries": rng.randint(0, 3),
            "request_id": _request_id(rng)}
    if rng.random() < 0.3:
        args["params"] = {"page": rng.randint(1, 9), "per_page": 50}
    return args


def _run_shell(rng, clock):
    return {"command": rng.choice(("ls -la", "make test", "git status", "cat log.txt",
                                   "pytest -q", "du -sh .")),
            "cwd": "/work/" + rng.choice(WORDS), "timeout_s": 120,
            "env": {"CI": "1"}, "capture": True, "ts": clock}


def _list_dir(rng, clock):
    return {"path": "/work/" + rng.choice(WORDS), "recursive": rng.random() < 0.3,
            "pattern": rng.choice(("*.py", "*.cc", "*", "*.md"))}


def _sql_query(rng, clock):
    table = rng.choice(TABLES)
    args = {"sql": "SELECT * FROM %s WHERE id > ? LIMIT ?" % table,
            "params": [rng.randint(1, 10000), rng.choice((10, 100))],
            "database": "analytics", "readonly": True, "timeout_ms": 1500.0}
    if rng.random() < 0.5:
        args["explain"] = False
        args["tags"] = [rng.choice(WORDS), rng.choice(WORDS)]
    return args


def _send_email(rng, clock):
    args = {"to": ["%s@example.com" % rng.choice(WORDS)], "cc": [],
            "subject": _words(rng, 2, 5).capitalize(), "body": _words(rng, 10, 40),
            "priority": rng.choice(("low", "normal", "high")), "attachments": [],
            "send_at": None, "dry_run": rng.random() < 0.2}
    if rng.random() < 0.4:
        args["reply_to"] = "noreply@example.com"
        args["labels"] = {"team": rng.choice(WORDS), "auto": True}
    return args


TOOLS = (("search", _search), ("read_file", _read_file), ("write_file", _write_file),
         ("http_get", _http_get), ("run_shell", _run_shell), ("list_dir", _list_dir),
         ("sql_query", _sql_query), ("send_email", _send_email))
VOLATILE_KEYS = ("request_id", "ts")


def generate(seed=DEFAULT_SEED, calls=DEFAULT_CALLS, threads=4):
    """The trace as a list of dicts (see the module docstring)."""
    rng = random.Random(seed)
    clock = 1_767_225_600_000  # milliseconds; moves on with every call
    steps = [0] * threads
    trace = []
    repeat_left = 0
    last = None  # (thread index, tool name, arguments dict)
    while len(trace) < calls:
        clock += rng.randint(5, 900)
        if repeat_left > 0 and last is not None:
            repeat_left -= 1
            thread, tool, args = last
            args = dict(args)
            # A repeat differs only in its volatile keys.
            if "request_id" in args:
                args["request_id"] = _request_id(rng)
            if "ts" in args:
                args["ts"] = clock
        else:
            thread = rng.randrange(threads)
            tool, build = rng.choice(TOOLS)
            args = build(rng, clock)
            if rng.random() < 0.15:
                repeat_left = rng.randint(1, 6)  # a run of 2 to 7 identical calls
        last = (thread, tool, args)
        steps[thread] += 1
        trace.append({"thread_id": "run-%d" % thread, "step": steps[thread], "tool_name": tool,
                      "arguments": json.dumps(args)})
    return trace


def write_jsonl(trace, out):
    for call in trace:
        out.write(json.dumps(call, separators=(",", ":")))
        out.write("\n")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    parser.add_argument("--calls", type=int, default=DEFAULT_CALLS)
    parser.add_argument("--out", help="output file (default: standard output)")
    opts = parser.parse_args(argv)
    trace = generate(opts.seed, opts.calls)
    if opts.out:
        with open(opts.out, "w", encoding="utf-8") as out:
            write_jsonl(trace, out)
    else:
        write_jsonl(trace, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
