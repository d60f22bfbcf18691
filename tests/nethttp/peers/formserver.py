#!/usr/bin/env python3
"""An HTTP/1.1 server on 127.0.0.1 that tells what it understood of a request.

GET answers with the path and the request headers, one "Name: value" line
each.  POST parses the multipart/form-data body with Python's email package
and answers, per part, "name|content type|filename|hex of the bytes".
Prints its port on the first line and ends by itself after --lifetime seconds.
"""
import argparse
import email.parser
import email.policy
import http.server
import signal
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, text):
        body = text.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        lines = ["path=" + self.path]
        for name, value in self.headers.items():
            lines.append(name + ": " + value)
        self.answer("\n".join(lines) + "\n")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        ctype = self.headers.get("Content-Type", "")
        msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + ctype.encode("latin-1") + b"\r\n\r\n" + body)
        lines = []
        if msg.is_multipart():
            for part in msg.iter_parts():
                name = part.get_param("name", header="content-disposition") or ""
                filename = part.get_param("filename", header="content-disposition") or ""
                part_type = part.get("Content-Type", "")
                payload = part.get_payload(decode=True) or b""
                lines.append("|".join([name, part_type, filename, payload.hex()]))
        else:
            lines.append("not multipart: " + ctype)
        self.answer("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lifetime", type=int, default=20)
    args = ap.parse_args()
    signal.alarm(args.lifetime)
    srv = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    print(srv.server_address[1], flush=True)
    srv.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
