"""A loopback stand-in for the semantic sidecar, run as its own process.

Usage: sidecar_server.py PORT MODE_FILE

Every POST reads MODE_FILE and answers accordingly:
  loop     200 {"loop_detected": true}
  noloop   200 {"loop_detected": false}
  status   503 with an empty body
  notjson  200 with a body that is not JSON
It must run outside the test process: process() holds the GIL while it waits
for the answer.
"""

import http.server
import pathlib
import sys


def main() -> None:
    port = int(sys.argv[1])
    mode_file = pathlib.Path(sys.argv[2])

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self) -> None:
            length = int(self.headers.get("content-length", "0"))
            self.rfile.read(length)
            mode = mode_file.read_text().strip()
            if mode == "status":
                self.send_response(503)
                self.send_header("content-length", "0")
                self.end_headers()
                return
            body = {
                "loop": b'{"loop_detected": true}',
                "noloop": b'{"loop_detected": false}',
                "notjson": b"<html>",
            }[mode]
            self.send_response(200)
            self.send_header("content-type", "application/json")
            self.send_header("content-length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, format: str, *args: object) -> None:
            pass

    server = http.server.HTTPServer(("127.0.0.1", port), Handler)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
