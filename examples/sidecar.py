#!/usr/bin/env python3
"""A toy semantic sidecar for the tarnwick demo (standard library only).

It answers POST /analyze with {"loop_detected": bool, "score": float}. A call
is judged a loop when, in the same session, one of the last few calls of the
same tool had arguments that are textually very similar (difflib ratio at or
above the threshold). Real sidecars would compare embeddings; the protocol is
the same.

    python3 examples/sidecar.py [--port 8081] [--threshold 0.85]
"""

from __future__ import annotations

import argparse
import difflib
import json
from collections import defaultdict, deque
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

RECENT = 4


class Analyzer:
    def __init__(self, threshold: float) -> None:
        self.threshold = threshold
        self.recent: dict[tuple[str, str], deque[str]] = defaultdict(lambda: deque(maxlen=RECENT))

    def analyze(self, session: str, tool: str, args: str) -> tuple[bool, float]:
        history = self.recent[(session, tool)]
        score = max((difflib.SequenceMatcher(None, old, args).ratio() for old in history), default=0.0)
        history.append(args)
        return score >= self.threshold, round(score, 3)


def make_handler(analyzer: Analyzer) -> type[BaseHTTPRequestHandler]:
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_POST(self) -> None:  # noqa: N802 (http.server naming)
            if self.path != "/analyze":
                self.send_error(404)
                return
            length = int(self.headers.get("content-length", "0"))
            try:
                body = json.loads(self.rfile.read(length))
                loop, score = analyzer.analyze(
                    str(body["session_id"]), str(body["tool_call"]), str(body["llm_error_response"])
                )
            except (ValueError, KeyError, TypeError):
                self.send_error(400, "bad request")
                return
            answer = json.dumps({"loop_detected": loop, "score": score}).encode()
            self.send_response(200)
            self.send_header("content-type", "application/json")
            self.send_header("content-length", str(len(answer)))
            self.send_header("connection", "close")
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, format: str, *args: object) -> None:  # keep the demo output clean
            pass

    return Handler


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8081)
    parser.add_argument("--threshold", type=float, default=0.85)
    args = parser.parse_args()
    server = ThreadingHTTPServer((args.host, args.port), make_handler(Analyzer(args.threshold)))
    server.daemon_threads = True
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
