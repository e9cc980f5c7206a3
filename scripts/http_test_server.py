#!/usr/bin/python3
"""A scripted HTTP server for the tests, on a loopback address and a free port.

Usage: http_test_server.py SCRIPT.json FOLDER [ADDRESS]

ADDRESS is the one address listened on, IPv4 or IPv6 (default 127.0.0.1; "::1" listens on the
IPv6 loopback only).

Prints "PORT <n>" on the first line of standard output, then serves until killed. The script
is a JSON list with one entry per connection, used in the order the connections arrive (the
last entry serves every further connection). An entry is an object with these keys, all
optional:

  reply        text to send back (code points 0-255 stand for bytes), default ""
  chunk        send the reply in pieces of this many bytes (default: all at once)
  chunk_delay  seconds to wait between pieces (default 0)
  delay        seconds to wait after the request before answering (default 0)
  keep_open    after the reply, keep the connection open until the client closes it
  silent       accept the connection, then neither read nor answer until the client closes
  expect_body  read the request body too when it announces a Content-Length (default true)
  line_request the request is one line ending in LF, not a header block

For each request it has read, the server stores the request bytes in FOLDER/request-<n>.bin
and then prints "REQUEST <n>" (n counting from 1), so that a large request never fills the
pipe to the test; for a silent connection it prints "CONNECTED". Every line is flushed at once.
"""
import itertools
import json
import os
import socket
import sys
import threading
import time

LOCK = threading.Lock()
REQUEST_NUMBERS = itertools.count(1)


def say(line):
    with LOCK:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def read_line(conn):
    data = b""
    while not data.endswith(b"\n"):
        block = conn.recv(1)
        if not block:
            break
        data += block
    return data


def read_request(conn, expect_body):
    data = b""
    while b"\r\n\r\n" not in data:
        block = conn.recv(65536)
        if not block:
            return data
        data += block
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip() or b"0")
    while expect_body and len(rest) < length:
        block = conn.recv(65536)
        if not block:
            break
        rest += block
    return head + b"\r\n\r\n" + rest


def wait_for_close(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def record(folder, request):
    with LOCK:
        number = next(REQUEST_NUMBERS)
    path = os.path.join(folder, "request-%d.bin" % number)
    with open(path + ".tmp", "wb") as f:
        f.write(request)
    os.rename(path + ".tmp", path)
    say("REQUEST %d" % number)


def serve(conn, entry, folder):
    with conn:
        if entry.get("silent"):
            say("CONNECTED")
            wait_for_close(conn)
            return
        if entry.get("line_request"):
            request = read_line(conn)
        else:
            request = read_request(conn, entry.get("expect_body", True))
        record(folder, request)
        time.sleep(entry.get("delay", 0))
        reply = entry.get("reply", "").encode("latin-1")
        chunk = entry.get("chunk") or max(len(reply), 1)
        try:
            for at in range(0, len(reply), chunk):
                if at:
                    time.sleep(entry.get("chunk_delay", 0))
                conn.sendall(reply[at:at + chunk])
        except OSError:
            return
        if entry.get("keep_open"):
            wait_for_close(conn)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        script = json.load(f)
    address = sys.argv[3] if len(sys.argv) > 3 else "127.0.0.1"
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if family == socket.AF_INET6:
        listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    listener.bind((address, 0))
    listener.listen(16)
    say("PORT %d" % listener.getsockname()[1])
    served = 0
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        entry = script[min(served, len(script) - 1)]
        served += 1
        threading.Thread(target=serve, args=(conn, entry, sys.argv[2]), daemon=True).start()


if __name__ == "__main__":
    main()
