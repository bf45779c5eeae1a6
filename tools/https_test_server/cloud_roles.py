"""The bootstrap and cloud roles of the local HTTPS test server.

bootstrap  GET .../bootstrap/v2?sn=<sn>&bootstrapKey=<k>&type=service2;apns
           checks the key against the deployment's salt template (read from
           --deployment <folder>/deployment.conf) and answers code 0 with
           "company", "service" {url, pecUrl, token} from the command line
           and the scenario's "apns". A wrong key gets 403.
cloud      POST <opercode path> and <status path> (mutual TLS): checks the
           Authorization header, recomputes the HMAC signature with its own
           token and URL, checks the body against cJSON's printed form, and
           answers code 0 (or the scenario's reply). A failed check gets 401
           {"code":401,"message":"..."}.

Scenario (--script): a list of entries, or {"apns": [...], "entries": [...]}.
An entry names a "function" (the last part of the path: "v2" for the
bootstrap, "opercode" or "status" for the cloud) and a "call" (1, 2, ... or
"always"); the first match applies. It may set
  status, headers, body      the answer as given (no role logic)
  action                     "hold" (with "seconds") or "close"
  reply                      a JSON value answered instead of the default
  redirect                   bootstrap: 302 to this path (query kept)
  pieces                     [[text, pause seconds], ...]: the body sent in
                             pieces with pauses (Content-Length of the whole)
  spell                      {name: raw text}: members of that name written
                             with the raw text as their quoted name (e.g.
                             {"token": "to\\u006ben"}, still valid JSON)
  endless                    a text: status 200 and a chunked body that never
                             ends (the text again and again)
  cut                        a text: the body is sent up to that text's first
                             occurrence, under the whole body's
                             Content-Length, and the connection is closed
The bootstrap percent-decodes sn before it checks the key.
Each request's checks are appended as one JSON object a line to
bootstrap.jsonl or cloud.jsonl in the record folder.
"""

import base64
import hashlib
import hmac
import json
import os
import re
import threading
import time
import urllib.parse

AUTH_RE = re.compile(r"^HOLLOWBRIGHT-HMAC-SHA256 nonce_str=([0-9a-f]{32}),timestamp=(-?[0-9]+),"
                     r"signature=([A-Za-z0-9+/]{86}==)$")
JSON_HEADERS = [("Content-Type", "application/json")]


class Answer:
    def __init__(self, status=200, headers=None, body=b"", action=None, seconds=0, pieces=None, endless=None,
                 length=None):
        self.status = status
        self.headers = headers if headers is not None else list(JSON_HEADERS)
        self.body = body
        self.action = action
        self.seconds = seconds
        self.pieces = pieces
        self.endless = endless
        self.length = length


def cjson_print(value, depth=1):
    """cJSON_Print's formatted (tab-indented) form of a JSON value."""
    if isinstance(value, dict):
        if not value:
            return "{\n" + "\t" * (depth - 1) + "}"
        items = ["\t" * depth + json.dumps(k, ensure_ascii=False) + ":\t" + cjson_print(v, depth + 1)
                 for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + "\t" * (depth - 1) + "}"
    if isinstance(value, bool) or value is None:
        return json.dumps(value)
    if isinstance(value, int) or (isinstance(value, float) and value.is_integer()):
        return "%d" % int(value)
    return json.dumps(value, ensure_ascii=False)


def read_conf(folder):
    values = {}
    with open(os.path.join(folder, "deployment.conf"), encoding="utf-8") as f:
        for line in f:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                values[key] = value
    return values


def bootstrap_key(salt_template, sn):
    digest = hashlib.md5(salt_template.replace("%s", sn, 1).encode("utf-8")).hexdigest()
    return digest[8:24]


def signing_path(url):
    at = url.find("v2")
    return url[at - 1:] if at > 0 else None


def signature(token, text):
    mac = hmac.new(token.encode("utf-8"), text.encode("utf-8"), hashlib.sha256).hexdigest().upper()
    return base64.b64encode(mac.encode("ascii")).decode("ascii")


def canonical_text(function, path, timestamp, nonce, body, token):
    sn = body.get("sn", "")
    iccid = body.get("iccid", "")
    if function == "opercode":
        text = "POST&%s&%s&%s" % (path, timestamp, nonce)
        if iccid:
            text += "&iccid=%s" % iccid
        return text + "&sn=%s&key=%s" % (sn, token)
    return "POST&%s&%s&%s&eid=%s&iccid=%s&sn=%s&type=%d&key=%s" % (
        path, timestamp, nonce, body.get("eid", ""), iccid, sn, int(body.get("type", 0)), token)


class CloudRole:
    """The bootstrap server or the operation-code/status server."""

    def __init__(self, role, port, options, scenario, record_dir):
        self.role = role
        self.port = port
        self.options = options
        if isinstance(scenario, list):
            scenario = {"entries": scenario}
        self.entries = list(scenario.get("entries", []))
        self.apns = scenario.get("apns", [])
        self.record_dir = record_dir
        self.calls = {}
        self.nonces = set()
        self.lock = threading.Lock()
        self.salt = None
        if role == "bootstrap":
            self.salt = read_conf(options.deployment)["SALT_TEMPLATE"]
        self.base = "https://127.0.0.1:%d" % port
        self.paths = {"opercode": options.opercode_path, "status": options.status_path}

    def urls(self):
        if self.role == "bootstrap":
            return ["URL bootstrap %s/bootstrap/v2" % self.base]
        return ["URL %s %s%s" % (name, self.base, path) for name, path in sorted(self.paths.items())]

    # -- shared --------------------------------------------------------------

    def _entry(self, function):
        self.calls[function] = self.calls.get(function, 0) + 1
        call = self.calls[function]
        for entry in self.entries:
            if entry.get("function") == function and entry.get("call") in ("always", call):
                return entry
        return {}

    def _record(self, name, record):
        if not self.record_dir:
            return
        with open(os.path.join(self.record_dir, name), "a", encoding="utf-8") as f:
            f.write(json.dumps(record) + "\n")

    @staticmethod
    def _override(entry):
        """The entry's own answer, or None when the role logic answers."""
        if "action" in entry:
            return Answer(action=entry["action"], seconds=float(entry.get("seconds", 0)))
        if "endless" in entry:
            return Answer(endless=str(entry["endless"]))
        if "status" in entry or "body" in entry:
            return Answer(int(entry.get("status", 200)), [tuple(h) for h in entry.get("headers", [])],
                          entry.get("body", "").encode("utf-8"))
        return None

    @staticmethod
    def _reply(value, entry):
        printed = json.dumps(value)
        for name, raw in entry.get("spell", {}).items():
            printed = printed.replace(json.dumps(name) + ":", '"%s":' % raw)
        body = printed.encode("utf-8")
        if "pieces" in entry:
            pieces = [(str(text).encode("utf-8"), float(pause)) for text, pause in entry["pieces"]]
            return Answer(200, list(JSON_HEADERS), b"".join(p for p, _ in pieces), pieces=pieces)
        if "cut" in entry:
            at = body.find(str(entry["cut"]).encode("utf-8"))
            sent = body[:at] if at >= 0 else body
            return Answer(200, list(JSON_HEADERS), body, pieces=[(sent, 0)], length=len(body))
        return Answer(200, list(JSON_HEADERS), body)

    def handle_request(self, lines, body, peer):
        request_line = lines[0].decode("latin-1").rstrip("\r\n")
        parts = request_line.split()
        target = parts[1] if len(parts) > 1 else ""
        path = target.split("?", 1)[0]
        function = path.rstrip("/").rsplit("/", 1)[-1]
        with self.lock:
            entry = self._entry(function)
            if self.role == "bootstrap":
                return self._bootstrap(request_line, target, lines, function, entry, peer)
            return self._cloud(path, lines, body, function, entry, peer)

    # -- bootstrap -------------------------------------------------------------

    def _bootstrap(self, request_line, target, lines, function, entry, peer):
        names = sorted(line.decode("latin-1").split(":", 1)[0].strip().lower() for line in lines[1:])
        query = target.split("?", 1)[1] if "?" in target else ""
        match = re.match(r"^sn=([^&]*)&bootstrapKey=([^&]*)&type=service2;apns$", query)
        sn, key = (urllib.parse.unquote(match.group(1)), match.group(2)) if match else ("", "")
        record = {
            "function": function,
            "target": target,
            "literalQuery": match is not None,
            "http11": request_line.endswith(" HTTP/1.1"),
            "keyValid": match is not None and key == bootstrap_key(self.salt, sn),
            "defaultHeadersOnly": names == ["accept", "host"],
            "clientCert": peer is not None,
            "sn": sn,
        }
        self._record("bootstrap.jsonl", record)
        if "redirect" in entry:
            return Answer(302, [("Location", entry["redirect"] + ("?" + query if query else ""))], b"")
        override = self._override(entry)
        if override is not None:
            return override
        if function != "v2" or not record["keyValid"]:
            return Answer(403, list(JSON_HEADERS), b'{"code":403,"message":"bad bootstrap key"}')
        reply = entry.get("reply", {
            "code": 0,
            "data": {
                "company": "Hollowbright Test",
                "service": {"url": self.options.service_url or "", "pecUrl": self.options.pec_url or "",
                            "token": self.options.token or ""},
                "apns": self.apns,
            },
        })
        return self._reply(reply, entry)

    # -- cloud -----------------------------------------------------------------

    def _cloud(self, path, lines, body, function, entry, peer):
        heads = [line.decode("latin-1").rstrip("\r\n") for line in lines[1:]]
        names = [h.split(":", 1)[0].strip().lower() for h in heads]
        values = {h.split(":", 1)[0].strip().lower(): h.split(":", 1)[1].strip() for h in heads if ":" in h}
        failures = []
        record = {"function": function, "clientSubject": peer_subject(peer)}
        if names.count("content-type") != 1 or values.get("content-type") != "application/json":
            failures.append("content-type")
        if "authorization" not in names or "content-type" not in names or \
                names.index("authorization") > names.index("content-type"):
            failures.append("header order")
        auth = AUTH_RE.match(values.get("authorization", ""))
        try:
            parsed = json.loads(body.decode("utf-8"))
            if not isinstance(parsed, dict):
                raise ValueError("not an object")
        except ValueError:
            parsed = None
            failures.append("body")
        record["body"] = parsed
        record["bodyForm"] = parsed is not None and cjson_print(parsed).encode("utf-8") == body
        if not record["bodyForm"]:
            failures.append("body form")
        if auth is None:
            failures.append("authorization form")
        else:
            nonce, timestamp, sig = auth.group(1), int(auth.group(2)), auth.group(3)
            record.update({"nonce": nonce, "timestamp": timestamp, "nonceSeen": nonce in self.nonces,
                           "skew": timestamp - int(time.time())})
            self.nonces.add(nonce)
            own_path = self.paths.get(function)
            sign_path = signing_path(self.base + own_path) if own_path else None
            expected = None
            if sign_path is not None and parsed is not None:
                expected = signature(self.options.token or "",
                                     canonical_text(function, sign_path, timestamp, nonce, parsed,
                                                    self.options.token or ""))
            record["signatureValid"] = expected is not None and hmac.compare_digest(expected, sig)
            if not record["signatureValid"]:
                failures.append("signature")
        record["failures"] = failures
        self._record("cloud.jsonl", record)
        override = self._override(entry)
        if override is not None:
            return override
        if path not in self.paths.values():
            return Answer(404, list(JSON_HEADERS), b'{"code":404,"message":"no such path"}')
        if failures:
            message = ", ".join(failures)
            return Answer(401, list(JSON_HEADERS),
                          json.dumps({"code": 401, "message": message}).encode("utf-8"))
        if function == "opercode":
            default = {"code": 0, "message": "success",
                       "data": {"status": 1, "operation": 0, "token": "", "simMode": 0}}
        else:
            default = {"code": 0, "message": "success"}
        return self._reply(entry.get("reply", default), entry)


def peer_subject(peer):
    """The subject of a getpeercert() dictionary as "CN=...", or None."""
    if not peer:
        return None
    parts = []
    for rdn in peer.get("subject", ()):
        for name, value in rdn:
            parts.append("%s=%s" % ({"commonName": "CN"}.get(name, name), value))
    return ",".join(parts)
