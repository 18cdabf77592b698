"""A straightforward pure-Python guard: what a user would write instead of
using tarnwick, doing the same checks on every tool call.

PurePythonGuard.process(thread_id, step, tool_name, arguments) mirrors
tarnwick.Orchestrator.process: the arguments text is read as JSON (invalid
text counts as null); the exact-repeat count is taken over one shared window
of the last 100 calls, after inferring volatile top-level keys from earlier
calls of the same tool; tool errors are counted by kind; one POST per call
goes to the semantic sidecar over a new connection (optional, so that the
checks can be timed on their own), with shadow-mode bookkeeping when the
sidecar is missing; the report's severity and confidence are computed; and
the policy below picks the intervention, which is then fitted to an adapter
that can retry and abort but not replace tools or inject prompts.

JSON values are compared strictly: kinds must agree, so 1 and 1.0 (or true
and 1) differ, as they do in tarnwick. Event ids and timestamps are not
drawn: the guard needs neither, which makes it slightly cheaper than the
real thing.
"""

import collections
import http.client
import json
import logging
import os

# The policy both implementations run (policy.yaml beside this file): a
# repeat seen three times backs off, five times aborts, and a semantic repeat
# asks for a prompt injection.
POLICY_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "policy.yaml")
with open(POLICY_PATH, encoding="utf-8") as _policy_file:
    POLICY_YAML = _policy_file.read()

# The same policy as data, read by PurePythonGuard. python_bench.py checks
# that both implementations choose the same interventions on the trace.
POLICY = [
    {"priority": 20, "when": {"count": {"exact_repeat": 5}},
     "do": ("Abort", {"reason": "agent is looping"})},
    {"priority": 10, "when": {"count": {"exact_repeat": 3}},
     "do": ("Backoff", {"base_ms": 250})},
    {"priority": 5, "when": {"any": ["semantic_repeat"]},
     "do": ("InjectPrompt", {"content": "You are repeating yourself; try another approach."})},
]

HISTORY_CAPACITY = 100
MIN_SAMPLES = 2
SIDECAR_HOST = "127.0.0.1"
SIDECAR_PORT = 8081
SIDECAR_TIMEOUT_S = 0.5
SEMANTIC_CONFIDENCE = 0.85

LOW, MEDIUM, HIGH = 0, 1, 2

log = logging.getLogger("pure_python.sidecar")


def json_equal(a, b):
    """Equality of JSON values where the kinds must agree (1 != 1.0, True != 1)."""
    kind = type(a)
    if kind is not type(b):
        return False
    if kind is dict:
        if len(a) != len(b):
            return False
        for key, value in a.items():
            if key not in b or not json_equal(value, b[key]):
                return False
        return True
    if kind is list:
        return len(a) == len(b) and all(json_equal(x, y) for x, y in zip(a, b))
    return a == b


def infer_volatile_keys(current, samples, min_samples=MIN_SAMPLES):
    """Top-level keys that were the only difference against some earlier call
    and differed in at least min_samples of them."""
    if type(current) is not dict or len(samples) < min_samples:
        return []
    differ_count = {}
    sole = set()
    for sample in samples:
        if type(sample) is not dict:
            continue
        diffs = [k for k, v in current.items() if k not in sample or not json_equal(v, sample[k])]
        for key in sample:
            if key not in current and key not in diffs:
                diffs.append(key)
        for key in diffs:
            differ_count[key] = differ_count.get(key, 0) + 1
        if len(diffs) == 1:
            sole.add(diffs[0])
    return [k for k in sole if differ_count[k] >= min_samples]


def without_keys(value, keys):
    if not keys or type(value) is not dict:
        return value
    return {k: v for k, v in value.items() if k not in keys}


def severity_and_confidence(detections):
    severity, confidence = LOW, 0.0
    for kind, _tool, count, conf in detections:
        if kind == "exact_repeat":
            level = LOW if count <= 2 else MEDIUM if count <= 5 else HIGH
        elif kind == "error_pattern":
            level = MEDIUM if count <= 5 else HIGH
        else:
            level = MEDIUM
        severity = max(severity, level)
        if conf > confidence:
            confidence = conf
    return severity, confidence


def condition_matches(when, detections):
    if "any" in when:
        return any(d[0] == name for name in when["any"] for d in detections)
    if "all" in when:
        return all(any(d[0] == name for d in detections) for name in when["all"])
    if "count" in when:
        return all(any(d[0] == name and d[2] is not None and d[2] >= least for d in detections)
                   for name, least in when["count"].items())
    return False


def intervention_text(kind, params):
    """The intervention as tarnwick's Intervention repr() shows it, after the
    fixed adapter's downgrade (no tool replacement, no prompt injection)."""
    if kind == "Abort":
        return 'Abort { reason: "%s" }' % params.get("reason", "Aborted by policy")
    if kind == "Backoff":
        return "Backoff { base_ms: %d, attempt: 0 }" % params.get("base_ms", 500)
    if kind == "Retry":
        return "Retry { delay_ms: %d }" % params.get("delay_ms", 0)
    return "Retry { delay_ms: 0 }"  # ReplaceTool and InjectPrompt downgrade to this


class PurePythonGuard:
    def __init__(self, capacity=HISTORY_CAPACITY, ask_sidecar=True, policy=POLICY):
        self.history = collections.deque(maxlen=capacity)  # (tool, args, error_kind)
        self.ask_sidecar = ask_sidecar
        self.policies = policy
        self.shadow_active = False
        self.failed_calls = 0

    def process(self, thread_id, step, tool_name, arguments):
        """Returns (intervention text or None, report dict)."""
        try:
            args = json.loads(arguments)
        except ValueError:
            args = None
        detections = [self._exact(tool_name, args)]
        # Tool errors are never reported through process(), so the error
        # check below finds nothing; it is kept to do the same work.
        error_kind = None
        if error_kind is not None:
            same = sum(1 for _, _, kind in self.history if kind == error_kind)
            detections.append(("error_pattern", None, same + 1, 1.0))
        if self.ask_sidecar and self._semantic(thread_id, tool_name, args):
            detections.append(("semantic_repeat", tool_name, None, SEMANTIC_CONFIDENCE))
        severity, confidence = severity_and_confidence(detections)
        report = {"thread_id": thread_id, "step": step, "tool_name": tool_name,
                  "arguments": args, "detections": detections, "severity": severity,
                  "max_confidence": confidence}
        intervention = self._evaluate(detections)
        self.history.append((tool_name, args, error_kind))
        return intervention, report

    def _exact(self, tool_name, args):
        samples = [a for tool, a, _ in self.history if tool == tool_name]
        volatile = infer_volatile_keys(args, samples)
        current = without_keys(args, volatile)
        matches = sum(1 for s in samples if json_equal(without_keys(s, volatile), current))
        return ("exact_repeat", tool_name, matches + 1, 1.0)

    def _evaluate(self, detections):
        chosen = None
        for policy in self.policies:
            if condition_matches(policy["when"], detections):
                if chosen is None or policy["priority"] > chosen["priority"]:
                    chosen = policy
        if chosen is None:
            return None
        return intervention_text(*chosen["do"])

    def _semantic(self, thread_id, tool_name, args):
        """One POST to the sidecar over a new connection; True when it
        answers that the agent is looping."""
        body = json.dumps(
            {"llm_error_response": json.dumps(args, sort_keys=True, separators=(",", ":"),
                                              ensure_ascii=False),
             "session_id": thread_id, "tool_call": tool_name},
            separators=(",", ":"), ensure_ascii=False).encode("utf-8")
        conn = http.client.HTTPConnection(SIDECAR_HOST, SIDECAR_PORT, timeout=SIDECAR_TIMEOUT_S)
        try:
            try:
                conn.request("POST", "/analyze", body,
                             {"content-type": "application/json", "accept": "*/*"})
                response = conn.getresponse()
            except (OSError, http.client.HTTPException) as err:
                if not self.shadow_active:
                    log.warning("Semantic sidecar unreachable (%s) - entering shadow mode", err)
                self.failed_calls += 1
                self.shadow_active = True
                return False
            if not 200 <= response.status <= 299:
                log.warning("Semantic sidecar returned status %d - entering shadow mode",
                            response.status)
                self.failed_calls += 1
                self.shadow_active = True
                return False
            try:
                answer = json.loads(response.read())
            except (OSError, http.client.HTTPException, ValueError):
                return False
            if self.shadow_active:
                log.info("Semantic sidecar recovered - shadow mode deactivated")
                self.failed_calls = 0
                self.shadow_active = False
            return type(answer) is dict and answer.get("loop_detected") is True
        finally:
            conn.close()
