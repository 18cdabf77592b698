#!/usr/bin/env python3
"""Times tarnwick from Python against what a user would write instead.

On one seeded trace (trace_gen.py), side by side in one run:

  tarnwick          tarnwick.Orchestrator.process, end to end
  pure_python       the pure-Python guard of pure_python.py, paying the same
                    one POST attempt per call over a new connection
  floor             json.loads of the arguments plus one failed loopback
                    connect: the least any guard asking the sidecar can cost
  pure_checks       the pure-Python guard without the POST
  cpp_core          the C++ benchmark BM_ProcessFromText/100 (orchestrator
                    process with the exact and history detectors, window 100)
                    run on the same trace file

Nothing may listen on the sidecar port (127.0.0.1:8081) during the run. The
script checks first that both implementations choose the same interventions
on the trace, then prints per-call medians, the ratios, and the resident set
size over 200,000 tarnwick calls, one figure per line.

    python3 bench/python_bench.py --module-dir build/src/python \\
        --cpp-bench build/bench/orchestrator_bench
"""

import argparse
import glob
import json
import logging
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import pure_python  # noqa: E402
import trace_gen  # noqa: E402

SIDECAR = (pure_python.SIDECAR_HOST, pure_python.SIDECAR_PORT)


def find_first(patterns):
    for pattern in patterns:
        found = sorted(glob.glob(os.path.join(HERE, "..", pattern)))
        if found:
            return os.path.abspath(found[0])
    return None


def import_tarnwick(module_dir):
    if module_dir is None:
        module_dir = os.environ.get("TARNWICK_MODULE_DIR")
    if module_dir is None:
        found = find_first(["build*/src/python/tarnwick*.so", "build/*/src/python/tarnwick*.so"])
        module_dir = os.path.dirname(found) if found else None
    if module_dir is not None:
        sys.path.insert(0, module_dir)
    import tarnwick
    return tarnwick


def sidecar_port_closed():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        try:
            s.connect(SIDECAR)
        except ConnectionRefusedError:
            return True
        return False


def floor_call(arguments):
    try:
        json.loads(arguments)
    except ValueError:
        pass
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.connect(SIDECAR)
    except OSError:
        pass
    finally:
        s.close()


def per_call_times(call, trace):
    """Nanoseconds of each call of `call(thread_id, step, tool_name, args)`."""
    clock = time.perf_counter_ns
    times = []
    for c in trace:
        t0 = clock()
        call(c["thread_id"], c["step"], c["tool_name"], c["arguments"])
        times.append(clock() - t0)
    return times


def check_same_interventions(tarnwick, trace):
    orchestrator = tarnwick.Orchestrator(pure_python.POLICY_YAML)
    guard = pure_python.PurePythonGuard(ask_sidecar=False)
    chosen = 0
    for n, c in enumerate(trace):
        ours, _ = orchestrator.process(c["thread_id"], c["step"], c["tool_name"], c["arguments"])
        theirs, _ = guard.process(c["thread_id"], c["step"], c["tool_name"], c["arguments"])
        ours = None if ours is None else repr(ours)
        if ours != theirs:
            sys.exit("call %d: tarnwick chose %s, the pure-Python guard %s" % (n, ours, theirs))
        chosen += ours is not None
    return chosen


def run_cpp(binary, trace_file, repetitions):
    if binary is None or not os.path.exists(binary):
        return None
    out = subprocess.run(
        [binary, "--trace=" + trace_file, "--benchmark_filter=^BM_ProcessFromText/100$",
         "--benchmark_repetitions=%d" % repetitions, "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1, "us": 1e3, "ms": 1e6}[b["time_unit"]]
            return b["real_time"] * scale, b["cpu_time"] * scale
    return None


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def main():
    parser = argparse.ArgumentParser(description="tarnwick from Python against pure Python")
    parser.add_argument("--module-dir", help="directory holding the tarnwick module")
    parser.add_argument("--cpp-bench", help="path of orchestrator_bench")
    parser.add_argument("--seed", type=int, default=trace_gen.DEFAULT_SEED)
    parser.add_argument("--calls", type=int, default=2000, help="calls per timed pass")
    parser.add_argument("--rounds", type=int, default=3, help="timed passes per implementation")
    parser.add_argument("--memory-calls", type=int, default=200_000)
    opts = parser.parse_args()

    # The pure-Python guard's shadow-mode warning is expected; keep it quiet.
    logging.getLogger(pure_python.log.name).addHandler(logging.NullHandler())
    pure_python.log.propagate = False
    tarnwick = import_tarnwick(opts.module_dir)
    cpp_bench = opts.cpp_bench or os.environ.get("TARNWICK_CPP_BENCH") or find_first(
        ["build*/bench/orchestrator_bench", "build/*/bench/orchestrator_bench"])
    if not sidecar_port_closed():
        sys.exit("something listens on %s:%d; the run needs the sidecar port closed" % SIDECAR)

    trace = trace_gen.generate(opts.seed, opts.calls)
    started = time.monotonic()
    chosen = check_same_interventions(tarnwick, trace)

    samples = {"tarnwick": [], "pure_python": [], "floor": [], "pure_checks": []}
    for _ in range(opts.rounds):
        # Interleaved, so that every implementation sees the same machine load.
        orchestrator = tarnwick.Orchestrator(pure_python.POLICY_YAML)
        samples["tarnwick"] += per_call_times(orchestrator.process, trace)
        guard = pure_python.PurePythonGuard(ask_sidecar=True)
        samples["pure_python"] += per_call_times(guard.process, trace)
        samples["floor"] += per_call_times(lambda t, s, n, a: floor_call(a), trace)
        guard = pure_python.PurePythonGuard(ask_sidecar=False)
        samples["pure_checks"] += per_call_times(guard.process, trace)
    median = {name: statistics.median(times) / 1e3 for name, times in samples.items()}

    with tempfile.NamedTemporaryFile("w", suffix=".jsonl", delete=False) as f:
        trace_gen.write_jsonl(trace, f)
    try:
        cpp = run_cpp(cpp_bench, f.name, opts.rounds)
    finally:
        os.unlink(f.name)

    print("trace: seed %d, %d calls, %d interventions, same choices as pure Python"
          % (opts.seed, len(trace), chosen))
    for name in ("tarnwick", "pure_python", "floor", "pure_checks"):
        print("median_us %s: %.2f" % (name, median[name]))
    if cpp is not None:
        print("median_us cpp_core: %.2f (cpu %.2f)" % (cpp[0] / 1e3, cpp[1] / 1e3))
    print("ratio tarnwick/floor: %.2f (target <= 1.5)" % (median["tarnwick"] / median["floor"]))
    print("ratio pure_python/tarnwick: %.2f (target >= 4)"
          % (median["pure_python"] / median["tarnwick"]))
    if cpp is not None:
        # The C++ figure is a mean over many calls: its CPU time, unlike its
        # wall time, leaves out the preemptions that the per-call medians of
        # the Python figures leave out too.
        print("ratio pure_checks/cpp_core: %.1f against cpu time, %.1f against wall time"
              " (target >= 30)" % (median["pure_checks"] * 1e3 / cpp[1],
                                   median["pure_checks"] * 1e3 / cpp[0]))
    else:
        print("ratio pure_checks/cpp_core: not measured (orchestrator_bench not found)")

    orchestrator = tarnwick.Orchestrator(pure_python.POLICY_YAML)
    checkpoints = {opts.memory_calls * k // 10 for k in range(1, 11)}
    rss = []
    n = len(trace)
    for i in range(opts.memory_calls):
        c = trace[i % n]
        orchestrator.process(c["thread_id"], i, c["tool_name"], c["arguments"])
        if i + 1 in checkpoints:
            rss.append((i + 1, rss_bytes()))
    first, last = rss[0][1], rss[-1][1]
    print("rss_mib after %d calls: %.1f" % (rss[0][0], first / 2**20))
    print("rss_mib after %d calls: %.1f" % (rss[-1][0], last / 2**20))
    print("rss_growth_kib from %d to %d calls: %d"
          % (rss[0][0], rss[-1][0], (last - first) // 1024))
    print("elapsed_s: %.1f" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
