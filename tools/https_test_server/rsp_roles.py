"""The SM-DP+ and SM-DS roles of the local HTTPS test server.

A role answers the ES9+ functions (and the SM-DS's ES11 authenticateClient)
for real: it keeps sessions, checks the requests' DER and builds its answers
with rsp_der. Signatures and keys are random filler; the certificate is the
DER file of the test PKI.

Scenario (the server's --script file in a role): either a list of entries or
an object {"profiles": [...], "defaultProfile": "<matchingId>",
"eventEntries": [...], "entries": [...]}. An entry names a "function" and a
"call" (1 for the first call of that function, 2 for the second, ... or
"always"); the first matching entry applies. An entry either overrides the
answer ("status", "headers", "body", or "action": "hold"/"close" as in the
plain mode) or changes what the role logic produces:
  execStatus          value of header.functionExecutionStatus.status
  subjectCode, reasonCode   added as statusCodeData
  drop                "header", "functionExecutionStatus" or "status"
  eventEntries        list written into the answer
  set / remove        top-level keys to set (any JSON value) or remove
  keyCase             "upper" or "lower": every key of the answer rewritten
  txidLower           the answer's transactionId in lower case
  httpStatus, noBody  another HTTP status / no body for the role's answer
  serverAddress       the serverAddress (83) of serverSigned1
  euiccCiPKId         hex of the key id answered as euiccCiPKIdToBeUsed
  ccRequired          the ccRequiredFlag of smdpSigned2 (and the check)
  package             overrides of the profile's package shape (see PROFILE)
"""

import base64
import hashlib
import json
import os
import secrets
import threading

import rsp_der as der

FUNCTIONS = (
    "initiateAuthentication",
    "authenticateClient",
    "getBoundProfilePackage",
    "handleNotification",
    "cancelSession",
)

ROLE_HEADERS = [("X-Admin-Protocol", "gsma/rsp/v2.2.0"), ("Content-Type", "application/json")]

EVENT_BITS = {"install": "0780", "enable": "0640", "disable": "0520", "delete": "0410"}

# The default profile; a scenario profile lists only what differs.
PROFILE = {
    "matchingId": "HBR-TEST-1",
    "iccid": "8944476500001234567",
    "serviceProviderName": "Hollowbright Test",
    "profileName": "Test Profile 1",
    "class": None,            # None: no 95 (operational by default)
    "ppr": None,              # hex of the 99 content
    "notificationConfig": [{"event": "install"}, {"event": "delete"}],  # address: own by default
    "owner": None,            # {"mccMnc": hex, "gid1": hex, "gid2": hex}
    "ccRequired": False,
    "confirmationCode": "1234",
    "metadataPiece": 64,      # size of each 88 piece of the metadata
    "elements": [64, 200, 300],  # sizes of the 86 elements
    "elementCount": None,     # with elementSize: that many elements of that size
    "elementSize": None,
    "withA2": False,
}


def b64(data):
    return base64.b64encode(data).decode("ascii")


def unb64(text):
    if not isinstance(text, str):
        raise der.DerError("not a string")
    return base64.b64decode(text, validate=True)


def success_header():
    return {"functionExecutionStatus": {"status": "Executed-Success"}}


def failed(subject, reason):
    return {"header": {"functionExecutionStatus": {
        "status": "Failed", "statusCodeData": {"subjectCode": subject, "reasonCode": reason}}}}


def rewrite_keys(value, case):
    if isinstance(value, dict):
        return {(k.upper() if case == "upper" else k.lower()): rewrite_keys(v, case) for k, v in value.items()}
    if isinstance(value, list):
        return [rewrite_keys(v, case) for v in value]
    return value


class Answer:
    """What the handler sends: an action, or status, headers and body."""

    def __init__(self, status=200, headers=None, body=b"", action=None, seconds=0):
        self.status = status
        self.headers = headers if headers is not None else list(ROLE_HEADERS)
        self.body = body
        self.action = action
        self.seconds = seconds


class Role:
    def __init__(self, role, address, certificate, scenario, record_dir=None):
        if role not in ("smdp", "smds"):
            raise ValueError("unknown role %r" % role)
        self.role = role
        self.address = address
        self.certificate = certificate
        self.record_dir = record_dir
        if isinstance(scenario, list):
            scenario = {"entries": scenario}
        self.entries = list(scenario.get("entries", []))
        self.profiles = []
        for profile in scenario.get("profiles", [{}]):
            merged = dict(PROFILE)
            merged.update(profile)
            self.profiles.append(merged)
        self.default_profile = scenario.get("defaultProfile", self.profiles[0]["matchingId"])
        self.event_entries = scenario.get("eventEntries", [])
        self.sessions = {}
        self.calls = {}
        self.lock = threading.Lock()

    # -- routing -------------------------------------------------------------

    def handle(self, path, body):
        """Answers one POST; the function is the last part of the path."""
        function = path.split("?", 1)[0].rstrip("/").rsplit("/", 1)[-1]
        if function not in FUNCTIONS:
            return Answer(404, [], b"")
        with self.lock:
            self.calls[function] = self.calls.get(function, 0) + 1
            entry = self._entry(function, self.calls[function])
            if "action" in entry:
                return Answer(action=entry["action"], seconds=float(entry.get("seconds", 0)))
            if "status" in entry or "body" in entry:
                return Answer(int(entry.get("status", 200)), [tuple(h) for h in entry.get("headers", [])],
                              entry.get("body", "").encode("utf-8"))
            try:
                request = json.loads(body.decode("utf-8"))
                if not isinstance(request, dict):
                    raise ValueError("not an object")
            except ValueError:
                status, answer = 200, failed("8.1", "1.2")
            else:
                status, answer = getattr(self, "_" + function)(request, entry)
            return self._finish(status, answer, entry)

    def _entry(self, function, call):
        for entry in self.entries:
            if entry.get("function") == function and entry.get("call") in ("always", call):
                return entry
        return {}

    def _finish(self, status, answer, entry):
        if answer is not None:
            answer = self._apply_knobs(answer, entry)
        status = int(entry.get("httpStatus", status))
        body = b""
        if answer is not None and not entry.get("noBody"):
            body = json.dumps(answer).encode("utf-8")
        return Answer(status, list(ROLE_HEADERS), body)

    @staticmethod
    def _apply_knobs(answer, entry):
        for key, value in entry.get("set", {}).items():
            answer[key] = value
        for key in entry.get("remove", []):
            answer.pop(key, None)
        if entry.get("txidLower") and isinstance(answer.get("transactionId"), str):
            answer["transactionId"] = answer["transactionId"].lower()
        status = answer.get("header", {}).get("functionExecutionStatus")
        if status is not None:
            if "execStatus" in entry:
                status["status"] = entry["execStatus"]
            codes = {k: entry[k] for k in ("subjectCode", "reasonCode") if k in entry}
            if codes:
                status["statusCodeData"] = codes
        drop = entry.get("drop")
        if drop == "header":
            answer.pop("header", None)
        elif drop == "functionExecutionStatus":
            answer.get("header", {}).pop("functionExecutionStatus", None)
        elif drop == "status" and status is not None:
            status.pop("status", None)
        if "eventEntries" in entry:
            answer["eventEntries"] = entry["eventEntries"]
        if entry.get("keyCase") in ("upper", "lower"):
            answer = rewrite_keys(answer, entry["keyCase"])
        return answer

    # -- helpers -------------------------------------------------------------

    def _profile(self, matching_id):
        wanted = matching_id or self.default_profile
        for profile in self.profiles:
            if profile["matchingId"] == wanted:
                return profile
        return None

    def _session(self, request):
        txid = request.get("transactionId")
        if not isinstance(txid, str):
            return None, None
        return txid, self.sessions.get(txid)

    def metadata(self, profile):
        """The profile's metadata: the BF25 TLV."""
        parts = [der.tlv(0x5A, der.iccid_bytes(profile["iccid"])),
                 der.tlv(0x91, profile["serviceProviderName"].encode("utf-8")),
                 der.tlv(0x92, profile["profileName"].encode("utf-8"))]
        if profile.get("class") is not None:
            parts.append(der.tlv(0x95, bytes([profile["class"]])))
        configs = profile.get("notificationConfig") or []
        if configs:
            parts.append(der.tlv(0xB6, *[
                der.tlv(0x30, der.tlv(0x80, bytes.fromhex(EVENT_BITS[c["event"]])),
                        der.tlv(0x81, c.get("address", self.address).encode("utf-8")))
                for c in configs]))
        owner = profile.get("owner")
        if owner:
            fields = [der.tlv(0x80, bytes.fromhex(owner["mccMnc"]))]
            for tag, key in ((0x81, "gid1"), (0x82, "gid2")):
                if owner.get(key):
                    fields.append(der.tlv(tag, bytes.fromhex(owner[key])))
            parts.append(der.tlv(0xB7, *fields))
        if profile.get("ppr"):
            parts.append(der.tlv(0x99, bytes.fromhex(profile["ppr"])))
        return der.tlv(0xBF25, *parts)

    def package(self, txid, profile, shape):
        """The bound profile package (BF36) of a session."""
        bf23 = der.tlv(0xBF23, der.tlv(0x82, b"\x01"), der.tlv(0x80, txid),
                       der.tlv(0xA6, der.tlv(0x90, b"\x88"), der.tlv(0x95, b"\x04"), der.tlv(0x80, b"\x88"),
                           der.tlv(0x81, b"\x10"), der.tlv(0x84, secrets.token_bytes(8))),
                       der.tlv(0x5F49, b"\x04" + secrets.token_bytes(64)),
                       der.tlv(0x5F37, secrets.token_bytes(64)))
        a0 = der.tlv(0xA0, der.tlv(0x87, bytes.fromhex("BF2400")))
        metadata = self.metadata(profile)
        piece = max(1, int(shape["metadataPiece"]))
        a1 = der.tlv(0xA1, *[der.tlv(0x88, metadata[i:i + piece]) for i in range(0, len(metadata), piece)])
        parts = [bf23, a0, a1]
        if shape.get("withA2"):
            parts.append(der.tlv(0xA2, der.tlv(0x87, secrets.token_bytes(24))))
        if shape.get("elementCount") is not None:
            sizes = [int(shape["elementSize"] or 16)] * int(shape["elementCount"])
        else:
            sizes = [int(s) for s in shape["elements"]]
        parts.append(der.tlv(0xA3, *[der.tlv(0x86, bytes((i + j) & 0xFF for j in range(size)))
                                     for i, size in enumerate(sizes)]))
        return der.tlv(0xBF36, *parts)

    def _record_notification(self, record):
        if not self.record_dir:
            return
        with open(os.path.join(self.record_dir, "notifications.jsonl"), "a", encoding="utf-8") as f:
            f.write(json.dumps(record) + "\n")

    # -- the functions ---------------------------------------------------------

    def _initiateAuthentication(self, request, entry):
        try:
            challenge = unb64(request.get("euiccChallenge"))
            info1 = der.parse_single(unb64(request.get("euiccInfo1")), 0xBF20)
            if not isinstance(request.get("smdpAddress"), str) or len(challenge) != 16:
                raise der.DerError("bad request")
            verification = der.find(der.parse_all(info1), 0xAA)
            ids = der.parse_all(verification) if verification is not None else []
        except (der.DerError, ValueError):
            return 200, failed("8.1", "2.1")
        if "euiccCiPKId" in entry:
            key_id = bytes.fromhex(entry["euiccCiPKId"])
        elif ids and ids[0][0] == 0x04:
            key_id = ids[0][1]
        else:
            return 200, failed("8.8.2", "3.1")
        txid = secrets.token_bytes(16)
        server_challenge = secrets.token_bytes(16)
        address = entry.get("serverAddress", self.address)
        txid_text = txid.hex().upper()
        self.sessions[txid_text] = {"txid": txid, "serverChallenge": server_challenge, "profile": None,
                                    "ccRequired": False, "ended": False}
        signed1 = der.tlv(0x30, der.tlv(0x80, txid), der.tlv(0x81, challenge),
                          der.tlv(0x83, address.encode("utf-8")), der.tlv(0x84, server_challenge))
        return 200, {
            "header": success_header(),
            "transactionId": txid_text,
            "serverSigned1": b64(signed1),
            "serverSignature1": b64(der.tlv(0x5F37, secrets.token_bytes(64))),
            "euiccCiPKIdToBeUsed": b64(der.tlv(0x04, key_id)),
            "serverCertificate": b64(self.certificate),
        }

    def _authenticateClient(self, request, entry):
        txid_text, session = self._session(request)
        if session is None or session["ended"]:
            return 200, failed("8.10.1", "3.9")
        try:
            response = der.parse_all(der.parse_single(unb64(request.get("authenticateServerResponse")), 0xBF38))
            if len(response) != 1 or response[0][0] != 0xA0:
                return 200, failed("8.1", "6.1")
            ok = der.parse_all(response[0][1])
            if [t for t, _ in ok] != [0x30, 0x5F37, 0x30, 0x30]:
                raise der.DerError("authenticateResponseOk shape")
            signed = der.parse_all(ok[0][1])
            tags = [t for t, _ in signed]
            if tags[:2] != [0x80, 0x83] or 0x84 not in tags or 0xBF22 not in tags or 0xA0 not in tags:
                raise der.DerError("euiccSigned1 shape")
            if der.find(signed, 0x80) != session["txid"] or der.find(signed, 0x84) != session["serverChallenge"]:
                return 200, failed("8.1", "6.1")
            context = der.parse_all(der.find(signed, 0xA0))
            if der.find(context, 0xA1) is None:
                raise der.DerError("no deviceInfo")
            matching = der.find(context, 0x80)
        except (der.DerError, ValueError, TypeError):
            return 200, failed("8.1", "2.1")
        if self.role == "smds":
            entries = self.event_entries
            return 200, {"header": success_header(), "eventEntries": entries}
        profile = self._profile(matching.decode("utf-8", "replace") if matching else "")
        if profile is None:
            return 200, failed("8.2.6", "3.8")
        cc = bool(entry.get("ccRequired", profile["ccRequired"]))
        session.update(profile=profile, ccRequired=cc)
        txid = session["txid"]
        signed2 = der.tlv(0x30, der.tlv(0x80, txid), der.tlv(0x01, b"\xff" if cc else b"\x00"),
                          der.tlv(0x5F49, b"\x04" + secrets.token_bytes(64)))
        return 200, {
            "header": success_header(),
            "transactionId": txid_text,
            "profileMetadata": b64(self.metadata(profile)),
            "smdpSigned2": b64(signed2),
            "smdpSignature2": b64(der.tlv(0x5F37, secrets.token_bytes(64))),
            "smdpCertificate": b64(self.certificate),
        }

    def _getBoundProfilePackage(self, request, entry):
        txid_text, session = self._session(request)
        if session is None or session["ended"] or session["profile"] is None:
            return 200, failed("8.10.1", "3.9")
        try:
            response = der.parse_all(der.parse_single(unb64(request.get("prepareDownloadResponse")), 0xBF21))
            if len(response) != 1 or response[0][0] != 0xA0:
                return 200, failed("8.2", "4.8")
            ok = der.parse_all(response[0][1])
            if [t for t, _ in ok] != [0x30, 0x5F37]:
                raise der.DerError("downloadResponseOk shape")
            signed = der.parse_all(ok[0][1])
            if der.find(signed, 0x80) != session["txid"] or der.find(signed, 0x5F49) is None:
                return 200, failed("8.1", "6.1")
            hash_cc = der.find(signed, 0x04)
        except (der.DerError, ValueError, TypeError):
            return 200, failed("8.1", "2.1")
        profile = session["profile"]
        if session["ccRequired"]:
            code = profile["confirmationCode"].encode("utf-8")
            expected = hashlib.sha256(hashlib.sha256(code).digest() + session["txid"]).digest()
            if hash_cc is None:
                return 200, failed("8.2.7", "2.2")
            if hash_cc != expected:
                return 200, failed("8.2.7", "3.8")
        shape = dict(profile)
        shape.update(entry.get("package", {}))
        return 200, {
            "header": success_header(),
            "transactionId": txid_text,
            "boundProfilePackage": b64(self.package(session["txid"], profile, shape)),
        }

    def _handleNotification(self, request, entry):
        try:
            notification = unb64(request.get("pendingNotification"))
            tag, value, end = der.read_tlv(notification)
            if end != len(notification):
                raise der.DerError("trailing bytes")
        except (der.DerError, ValueError):
            return 200, failed("8.1", "2.1")
        if tag == 0x30:
            record = {"kind": "other"}
            try:
                metadata = der.parse_all(der.find(der.parse_all(value), 0xBF2F))
                record["seq"] = int.from_bytes(der.find(metadata, 0x80) or b"", "big")
            except (der.DerError, ValueError, TypeError):
                pass
            self._record_notification(record)
            return 204, None
        if tag != 0xBF37:
            return 200, failed("8.1", "2.1")
        try:
            outer = der.parse_all(value)
            data = der.parse_all(der.find(outer, 0xBF27))
            txid = der.find(data, 0x80)
            metadata = der.parse_all(der.find(data, 0xBF2F))
            final = der.parse_all(der.find(data, 0xA2))
        except (der.DerError, ValueError, TypeError):
            return 200, failed("8.1", "2.1")
        txid_text = txid.hex().upper() if txid else ""
        if txid_text not in self.sessions:
            return 200, failed("8.10.1", "3.9")
        record = {"kind": "pir", "transactionId": txid_text,
                  "seq": int.from_bytes(der.find(metadata, 0x80) or b"", "big")}
        if final and final[0][0] == 0xA0:
            record["result"] = "success"
        else:
            record["result"] = "error"
            try:
                error = der.parse_all(final[0][1])
                record["bppCommandId"] = int.from_bytes(der.find(error, 0x80) or b"", "big")
                record["errorReason"] = int.from_bytes(der.find(error, 0x81) or b"", "big")
            except (der.DerError, IndexError):
                pass
        self.sessions[txid_text]["ended"] = True
        self._record_notification(record)
        return 204, None

    def _cancelSession(self, request, entry):
        txid_text, session = self._session(request)
        if session is None or session["ended"]:
            return 200, failed("8.10.1", "3.9")
        try:
            response = der.parse_all(der.parse_single(unb64(request.get("cancelSessionResponse")), 0xBF41))
            if not response or response[0][0] != 0xA0:
                raise der.DerError("not cancelSessionResponseOk")
            signed = der.parse_all(der.find(der.parse_all(response[0][1]), 0x30))
            if der.find(signed, 0x80) != session["txid"]:
                return 200, failed("8.1", "6.1")
        except (der.DerError, ValueError, TypeError):
            return 200, failed("8.1", "2.1")
        session["ended"] = True
        reason = der.find(signed, 0x81)
        self._record_notification({"kind": "cancel", "transactionId": txid_text,
                                   "reason": int.from_bytes(reason or b"", "big")})
        return 200, {"header": success_header()}
