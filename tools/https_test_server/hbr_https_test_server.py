#!/usr/bin/env python3
"""A local HTTPS test server (Python 3 standard library only).

It binds 127.0.0.1 on a free port and prints "PORT <n>" once it listens
(a cloud role prints its URLs, "URL <name> <url>", just before).
Each request is recorded in the record folder as three files, numbered
from 1 in the order the requests complete their head:
  req-<n>.head  the request line and header lines exactly as received
                (each line with its CRLF), in order
  req-<n>.body  the body bytes
  req-<n>.tls   the negotiated TLS version (for example "TLSv1.3")
  req-<n>.watch with --watch-file PATH: "present <SHA-256 hex of its bytes>"
                or "absent", as PATH was when the request's head was read

Answers come from a script: a JSON list with one entry per request, used in
order (after the last one, "200" with an empty body). An entry is one of
  {"status": 200, "headers": [["Name", "value"], ...], "body": "text"}
      "body" may be replaced by "body_repeat": ["text", count]; with
      "chunks": ["a", "b", ...] the body is sent chunked instead; with
      "endless": "text" the body is chunked and never ends: the text is sent
      as one chunk after another until the client goes away.
  {"action": "hold", "seconds": N}   read the request, wait N s, close
  {"action": "close"}                close at once, without reading

TLS options: --cert, --key, --max-tls (1.0, 1.1, 1.2, 1.3), --ciphers.
Stall mode (--stall N): accept TCP, send no TLS for N s, then close.

Roles (--role bootstrap|cloud): the Hollowbright cloud's bootstrap server or
its operation-code and status server (cloud_roles.py). They ask for a client
certificate against --client-ca (bootstrap: optional, cloud: required;
--client-cert overrides), see the head lines and the peer certificate, and
may answer a body in pieces with pauses. Handshakes the server refuses are
appended to refused.jsonl in the record folder with their reason.

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
import hashlib
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
    if entry.get("pieces"):
        # [(bytes, pause seconds), ...]: one Content-Length (of the pieces,
        # or "length" when set: a body that breaks off), the body in pieces
        # with a pause after each.
        total = entry.get("length") or sum(len(piece) for piece, _ in entry["pieces"])
        head += ["Content-Length: %d" % total, "Connection: close"]
        sock.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
        for piece, pause in entry["pieces"]:
            sock.sendall(piece)
            time.sleep(pause)
        return
    if entry.get("endless") is not None:
        head.append("Transfer-Encoding: chunked")
        sock.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
        data = str(entry["endless"]).encode("utf-8")
        chunk = b"%x\r\n" % len(data) + data + b"\r\n"
        while True:  # until sending fails
            sock.sendall(chunk)
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
        except (ssl.SSLError, OSError) as error:
            self.record_refused(error)
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
        role = self.server.role
        if hasattr(role, "handle_request"):
            result = role.handle_request(lines, body, tls.getpeercert() or None)
        else:
            parts = lines[0].decode("latin-1").split()
            result = role.handle(parts[1] if len(parts) > 1 else "", body)
        if result.action == "close":
            return
        if result.action == "hold":
            time.sleep(result.seconds)
            return
        answer(tls, {"status": result.status, "headers": result.headers, "body": result.body.decode("utf-8"),
                     "pieces": getattr(result, "pieces", None), "endless": getattr(result, "endless", None),
                     "length": getattr(result, "length", None)})

    def record_refused(self, error):
        folder = self.server.record
        if not folder:
            return
        reason = getattr(error, "reason", None) or str(error)
        with self.server.refused_lock:
            with open(os.path.join(folder, "refused.jsonl"), "a", encoding="utf-8") as f:
                f.write(json.dumps({"reason": reason, "error": str(error)}) + "\n")

    def record(self, lines, body, version):
        folder = self.server.record
        if not folder:
            return
        number = self.server.script.record_number()
        base = os.path.join(folder, "req-%d" % number)
        # Body, TLS and watch first: the head file tells a reader the record is whole.
        if getattr(self.server, "watch_file", None):
            try:
                with open(self.server.watch_file, "rb") as f:
                    watched = "present " + hashlib.sha256(f.read()).hexdigest()
            except FileNotFoundError:
                watched = "absent"
            with open(base + ".watch.tmp", "w") as f:
                f.write(watched)
            os.replace(base + ".watch.tmp", base + ".watch")
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
    parser.add_argument("--watch-file", help="file whose presence and SHA-256 each record notes")
    parser.add_argument("--stall", type=float, help="accept TCP, send no TLS for N s, close")
    parser.add_argument("--role", choices=("smdp", "smds", "bootstrap", "cloud"),
                        help="act as a test SM-DP+, SM-DS, bootstrap server or cloud server")
    parser.add_argument("--client-ca", help="CA file for client certificates")
    parser.add_argument("--client-cert", choices=("optional", "required"),
                        help="ask for a client certificate (default: bootstrap optional, cloud required)")
    parser.add_argument("--deployment", help="bootstrap: the deployment folder (its salt template)")
    parser.add_argument("--service-url", help="bootstrap: the service url answered")
    parser.add_argument("--pec-url", help="bootstrap: the pecUrl answered")
    parser.add_argument("--token", help="bootstrap: the token answered; cloud: the signing key")
    parser.add_argument("--opercode-path", default="/api/v2/device/opercode", help="cloud: operation-code path")
    parser.add_argument("--status-path", default="/api/v2/device/status", help="cloud: status path")
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
        cloud_role = args.role in ("bootstrap", "cloud")
        client_cert = args.client_cert or ({"bootstrap": "optional", "cloud": "required"}.get(args.role))
        if client_cert:
            if not args.client_ca:
                parser.error("--client-ca is needed to ask for a client certificate")
            context.load_verify_locations(cafile=args.client_ca)
            context.verify_mode = ssl.CERT_REQUIRED if client_cert == "required" else ssl.CERT_OPTIONAL
        if args.role and not cloud_role:
            context.minimum_version = ssl.TLSVersion.TLSv1_2
            if args.max_tls and context.maximum_version < ssl.TLSVersion.TLSv1_2:
                parser.error("a role requires TLS 1.2 or later")

    if args.record:
        os.makedirs(args.record, exist_ok=True)

    server = Server(("127.0.0.1", 0), Handler)
    server.context = context
    server.script = Script(entries)
    server.record = args.record
    server.watch_file = args.watch_file
    server.stall = args.stall
    server.role = None
    server.refused_lock = threading.Lock()
    port = server.server_address[1]
    urls = []
    if args.role in ("bootstrap", "cloud"):
        sys.dont_write_bytecode = True
        import cloud_roles
        server.role = cloud_roles.CloudRole(args.role, port, args, entries, args.record)
        urls = server.role.urls()
    elif args.role:
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
    for line in urls:  # before the port: launchers stop reading at "PORT"
        print(line, flush=True)
    print("PORT %d" % port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
