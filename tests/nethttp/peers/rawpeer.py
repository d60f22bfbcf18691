#!/usr/bin/env python3
"""A scripted HTTP peer on 127.0.0.1 for the client tests.

Binds an ephemeral port, prints it on a line of its own, then for each
connection reads one request, optionally saves it, and answers with the bytes
of a file, cut into pieces with pauses between them; afterwards it closes,
holds the connection open, keeps sending, or resets it.  It ends by itself
after --lifetime seconds whatever happens.
"""
import argparse
import signal
import socket
import struct
import sys
import time


def read_request(conn, limit=1 << 20):
    """The request head and its Content-Length body, as the client sent it."""
    data = b""
    conn.settimeout(5)
    try:
        while b"\r\n\r\n" not in data and len(data) < limit:
            chunk = conn.recv(65536)
            if not chunk:
                return data
            data += chunk
        head, _, rest = data.partition(b"\r\n\r\n")
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        while len(rest) < length:
            chunk = conn.recv(65536)
            if not chunk:
                break
            rest += chunk
        return head + b"\r\n\r\n" + rest
    except socket.timeout:
        return data


def wait_for_close(conn, seconds):
    conn.settimeout(seconds)
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reply", help="file holding the bytes to answer with")
    ap.add_argument("--pieces", type=int, default=1)
    ap.add_argument("--pause-ms", type=int, default=0)
    ap.add_argument("--after", choices=["close", "hold", "flood", "reset"], default="close")
    ap.add_argument("--capture", help="file to save the request into")
    ap.add_argument("--silent", action="store_true", help="read the request, never answer")
    ap.add_argument("--connections", type=int, default=1)
    ap.add_argument("--lifetime", type=int, default=20)
    args = ap.parse_args()
    signal.alarm(args.lifetime)

    reply = b""
    if args.reply:
        with open(args.reply, "rb") as f:
            reply = f.read()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    print(srv.getsockname()[1], flush=True)

    for _ in range(args.connections):
        conn, _ = srv.accept()
        request = read_request(conn)
        if args.capture:
            with open(args.capture, "wb") as f:
                f.write(request)
        if args.silent:
            wait_for_close(conn, args.lifetime)
            conn.close()
            continue
        try:
            pieces = max(1, args.pieces)
            step = max(1, -(-len(reply) // pieces))
            for i in range(0, len(reply), step):
                if i:
                    time.sleep(args.pause_ms / 1000.0)
                conn.sendall(reply[i:i + step])
            if args.after == "flood":
                block = b"x" * 65536
                while True:
                    conn.sendall(block)
            elif args.after == "hold":
                wait_for_close(conn, args.lifetime)
            elif args.after == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                conn.shutdown(socket.SHUT_WR)
                wait_for_close(conn, 2)
        except OSError:
            pass
        conn.close()


if __name__ == "__main__":
    sys.exit(main())
