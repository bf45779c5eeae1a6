#!/usr/bin/env python3
"""A local HTTPS test server (Python 3 standard library only).

It binds 127.0.0.1 on a free port and prints "PORT <n>" once it listens.
Each request is recorded in the record folder as three files, numbered
from 1 in the order the requests complete their head:
  req-<n>.head  the request line and header lines exactly as received
                (each line with its CRLF), in order
  req-<n>.body  the body bytes
  req-<n>.tls   the negotiated TLS version (for example "TLSv1.3")

Answers come from a script: a JSON list with one entry per request, used in
order (after the last one, "200" with an empty body). An entry is one of
  {"status": 200, "headers": [["Name", "value"], ...], "body": "text"}
      "body" may be replaced by "body_repeat": ["text", count]; with
      "chunks": ["a", "b", ...] the body is sent chunked instead.
  {"action": "hold", "seconds": N}   read the request, wait N s, close
  {"action": "close"}                close at once, without reading

TLS options: --cert, --key, --max-tls (1.0, 1.1, 1.2, 1.3), --ciphers.
Stall mode (--stall N): accept TCP, send no TLS for N s, then close.

Roles (--role smdp|smds): the server is a test SM-DP+ or SM-DS (rsp_roles.py)
with its own serverAddress (--address, default "localhost:<port>") and the
DER certificate of --rsp-cert (default rsp.der beside --cert) and trusts the
CI whose certificate is --ci-cert (default ci.der beside --cert). Each POST is
routed on the last part of its path; the script becomes the role's scenario
(see rsp_roles.py). Roles require TLS 1.2 or later. PIRs and other
notifications the role receives are appended to notifications.jsonl in the
record folder.

Run by hand, for example:
  hbr_https_test_server.py --cert server.crt --key server.key --record /tmp/rec
  hbr_https_test_server.py --cert server.crt --key server.key --role smdp
"""

import argparse
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import warnings

TLS_VERSIONS = {
    "1.0": ssl.TLSVersion.TLSv1,
    "1.1": ssl.TLSVersion.TLSv1_1,
    "1.2": ssl.TLSVersion.TLSv1_2,
    "1.3": ssl.TLSVersion.TLSv1_3,
}


class Script:
    def __init__(self, entries):
        self._entries = list(entries)
        self._lock = threading.Lock()
        self._next = 0
        self._recorded = 0

    def take(self):
        with self._lock:
            if self._next < len(self._entries):
                entry = self._entries[self._next]
            else:
                entry = {"status": 200}
            self._next += 1
            return entry

    def record_number(self):
        with self._lock:
            self._recorded += 1
            return self._recorded


def read_line(stream):
    line = stream.readline(65537)
    if not line:
        raise ConnectionError("connection closed")
    return line


def read_request(stream):
    """Returns (raw head lines, body bytes) of one request."""
    lines = [read_line(stream)]
    while True:
        line = read_line(stream)
        if line in (b"\r\n", b"\n"):
            break
        lines.append(line)
    headers = {}
    for line in lines[1:]:
        name, _, value = line.decode("latin-1").partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines, headers


def read_body(stream, headers, sock):
    if headers.get("expect", "").lower() == "100-continue":
        sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
    if headers.get("transfer-encoding", "").lower() == "chunked":
        body = bytearray()
        while True:
            size = int(read_line(stream).split(b";")[0].strip(), 16)
            if size == 0:
                while read_line(stream) not in (b"\r\n", b"\n"):
                    pass
                return bytes(body)
            body += stream.read(size)
            read_line(stream)
    length = int(headers.get("content-length", "0") or "0")
    return stream.read(length) if length > 0 else b""


def answer(sock, entry):
    status = int(entry.get("status", 200))
    extra = [(str(n), str(v)) for n, v in entry.get("headers", [])]
    head = ["HTTP/1.1 %d Answer" % status]
    head += ["%s: %s" % (n, v) for n, v in extra]
    if "chunks" in entry:
        head.append("Transfer-Encoding: chunked")
        head.append("Connection: close")
        sock.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
        for chunk in entry["chunks"]:
            data = chunk.encode("utf-8")
            sock.sendall(b"%x\r\n" % len(data) + data + b"\r\n")
        sock.sendall(b"0\r\n\r\n")
        return
    if "body_repeat" in entry:
        text, count = entry["body_repeat"]
        body = text.encode("utf-8") * int(count)
    else:
        body = entry.get("body", "").encode("utf-8")
    if status not in (204, 304) and not (100 <= status < 200):
        head.append("Content-Length: %d" % len(body))
    head.append("Connection: close")
    sock.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        raw = self.request
        if server.stall is not None:
            time.sleep(server.stall)
            return
        try:
            tls = server.context.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            if server.role is not None:
                self.serve_role(tls)
            else:
                self.serve_script(tls)
        except (ConnectionError, ssl.SSLError, OSError, ValueError):
            pass
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def read_and_record(self, tls):
        stream = tls.makefile("rb")
        lines, headers = read_request(stream)
        body = read_body(stream, headers, tls)
        self.record(lines, body, tls.version() or "")
        return lines, body

    def serve_script(self, tls):
        entry = self.server.script.take()
        if entry.get("action") == "close":
            return
        self.read_and_record(tls)
        if entry.get("action") == "hold":
            time.sleep(float(entry.get("seconds", 0)))
            return
        answer(tls, entry)

    def serve_role(self, tls):
        lines, body = self.read_and_record(tls)
        parts = lines[0].decode("latin-1").split()
        result = self.server.role.handle(parts[1] if len(parts) > 1 else "", body)
        if result.action == "close":
            return
        if result.action == "hold":
            time.sleep(result.seconds)
            return
        answer(tls, {"status": result.status, "headers": result.headers, "body": result.body.decode("utf-8")})

    def record(self, lines, body, version):
        folder = self.server.record
        if not folder:
            return
        number = self.server.script.record_number()
        base = os.path.join(folder, "req-%d" % number)
        # Body and TLS first: the head file tells a reader the record is whole.
        with open(base + ".body.tmp", "wb") as f:
            f.write(body)
        os.replace(base + ".body.tmp", base + ".body")
        with open(base + ".tls.tmp", "w") as f:
            f.write(version)
        os.replace(base + ".tls.tmp", base + ".tls")
        with open(base + ".head.tmp", "wb") as f:
            f.write(b"".join(lines))
        os.replace(base + ".head.tmp", base + ".head")


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    # Old TLS versions are offered on purpose (TLS floor tests).
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    parser = argparse.ArgumentParser(description="local HTTPS test server")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--max-tls", choices=sorted(TLS_VERSIONS))
    parser.add_argument("--ciphers")
    parser.add_argument("--script", help="JSON file: list of answer entries")
    parser.add_argument("--record", help="folder for the request records")
    parser.add_argument("--stall", type=float, help="accept TCP, send no TLS for N s, close")
    parser.add_argument("--role", choices=("smdp", "smds"), help="act as a test SM-DP+ or SM-DS")
    parser.add_argument("--address", help="the role's own serverAddress (default localhost:<port>; "
                        "{port} stands for the port, {pad} fills the address up to 128 characters, "
                        "{hostpad} too, as host labels of at most 63 characters)")
    parser.add_argument("--rsp-cert", help="DER certificate the role answers (default rsp.der beside --cert)")
    parser.add_argument("--ci-cert", help="DER certificate of the CI the role trusts (default ci.der beside --cert)")
    args = parser.parse_args()

    entries = []
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            entries = json.load(f)
    if args.role and args.stall is not None:
        parser.error("--role and --stall exclude each other")

    context = None
    if args.stall is None:
        if not args.cert or not args.key:
            parser.error("--cert and --key are needed unless --stall is given")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        if args.ciphers:
            context.set_ciphers(args.ciphers)
        if args.max_tls:
            maximum = TLS_VERSIONS[args.max_tls]
            context.maximum_version = maximum
            if maximum < context.minimum_version:
                context.minimum_version = maximum
        if args.role:
            context.minimum_version = ssl.TLSVersion.TLSv1_2
            if args.max_tls and context.maximum_version < ssl.TLSVersion.TLSv1_2:
                parser.error("a role requires TLS 1.2 or later")

    if args.record:
        os.makedirs(args.record, exist_ok=True)

    server = Server(("127.0.0.1", 0), Handler)
    server.context = context
    server.script = Script(entries)
    server.record = args.record
    server.stall = args.stall
    server.role = None
    port = server.server_address[1]
    if args.role:
        sys.dont_write_bytecode = True  # keep the source folder clean
        import rsp_roles
        import rsp_der
        pki = os.path.dirname(os.path.abspath(args.cert))
        with open(args.rsp_cert or os.path.join(pki, "rsp.der"), "rb") as f:
            certificate = f.read()
        with open(args.ci_cert or os.path.join(pki, "ci.der"), "rb") as f:
            ci_key_id = rsp_der.subject_key_id(f.read())
        address = args.address if args.address is not None else "localhost:%d" % port
        address = address.replace("{port}", str(port))
        if "{pad}" in address:  # filled with 'p' up to 128 characters in all
            address = address.replace("{pad}", "p" * max(0, 128 - len(address) + len("{pad}")))
        if "{hostpad}" in address:  # the same as host labels of at most 63 'p's
            n = max(0, 128 - len(address) + len("{hostpad}"))
            address = address.replace("{hostpad}", ".".join(["p" * 63] * (n // 64) + ["p" * (n % 64)]))
        server.role = rsp_roles.Role(args.role, address, certificate, entries, args.record, ci_key_id)
    print("PORT %d" % port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
