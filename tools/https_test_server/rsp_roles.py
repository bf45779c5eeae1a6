"""The SM-DP+ and SM-DS roles of the local HTTPS test server.

A role answers the ES9+ functions (and the SM-DS's ES11 authenticateClient)
for real: it keeps sessions, checks the requests' DER and builds its answers
with rsp_der. Signatures and keys are random filler; the certificate is the
DER file of the test PKI, and the CI key id the one of the PKI's test CI
(the simulated eUICC lists it). The role reads the eUICC's structures
strictly: a wrong tag, a missing mandatory field or a non-DER INTEGER fails
the function (8.1 / 2.1).

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


# Field layouts (tag, name, mandatory) of what the eUICC sends; "..." marks
# an extensible type.
EUICC_INFO1 = [(0x82, "svn", True), (0xA9, "euiccCiPKIdListForVerification", True),
               (0xAA, "euiccCiPKIdListForSigning", True)]
EUICC_INFO2 = [(0x81, "profileVersion", True), (0x82, "svn", True), (0x83, "euiccFirmwareVer", True),
               (0x84, "extCardResource", True), (0x85, "uiccCapability", True),
               (0x86, "ts102241Version", False), (0x87, "globalplatformVersion", False),
               (0x88, "rspCapability", True), (0xA9, "euiccCiPKIdListForVerification", True),
               (0xAA, "euiccCiPKIdListForSigning", True), (0x8B, "euiccCategory", False),
               (0x99, "forbiddenProfilePolicyRules", False), (0x04, "ppVersion", True),
               (0x0C, "sasAcreditationNumber", True), "..."]
EUICC_SIGNED1 = [(0x80, "transactionId", True), (0x83, "serverAddress", True), (0x84, "serverChallenge", True),
                 (0xBF22, "euiccInfo2", True), (0xA0, "ctxParams1", True)]
AUTHENTICATE_RESPONSE_OK = [(0x30, "euiccSigned1", True), (0x5F37, "euiccSignature1", True),
                            (0x30, "euiccCertificate", True), (0x30, "eumCertificate", True)]
NOTIFICATION_METADATA = [(0x80, "seqNumber", True), (0x81, "profileManagementOperation", True),
                         (0x0C, "notificationAddress", True), (0x5A, "iccid", False), "..."]
OTHER_SIGNED_NOTIFICATION = [(0xBF2F, "tbsOtherNotification", True), (0x5F37, "euiccNotificationSignature", True),
                             (0x30, "euiccCertificate", True), (0x30, "eumCertificate", True)]
PIR = [(0xBF27, "profileInstallationResultData", True), (0x5F37, "euiccSignPIR", True)]
PIR_DATA = [(0x80, "transactionId", True), (0xBF2F, "notificationMetadata", True), (0x06, "smdpOid", True),
            (0xA2, "finalResult", True)]
CANCEL_SESSION_OK = [(0x30, "euiccCancelSessionSigned", True), (0x5F37, "euiccCancelSessionSignature", True)]
EUICC_CANCEL_SESSION_SIGNED = [(0x80, "transactionId", True), (0x81, "smdpOid", True), (0x82, "reason", True)]


def key_ids(value):
    """A SEQUENCE OF SubjectKeyIdentifier."""
    items = der.parse_all(value)
    if any(tag != 0x04 for tag, _ in items):
        raise der.DerError("a key id that is not an OCTET STRING")
    return [v for _, v in items]


def check_version(value):
    if value is not None and len(value) != 3:
        raise der.DerError("VersionType of %d bytes" % len(value))


def check_bits(value):
    if not value or value[0] > 7 or (len(value) == 1 and value[0] != 0):
        raise der.DerError("not a BIT STRING")


def check_certificate(value):
    if [t for t, _ in der.parse_all(value)] != [0x30, 0x30, 0x03]:
        raise der.DerError("not a Certificate")


def euicc_info2(value):
    """EUICCInfo2 (content of BF22), strictly."""
    info = der.fields(value, EUICC_INFO2)
    for name in ("profileVersion", "svn", "euiccFirmwareVer", "ts102241Version", "globalplatformVersion", "ppVersion"):
        check_version(info[name])
    check_bits(info["uiccCapability"])
    check_bits(info["rspCapability"])
    for name in ("euiccCiPKIdListForVerification", "euiccCiPKIdListForSigning"):
        info[name] = key_ids(info[name])
    if info["euiccCategory"] is not None:
        der.read_integer(info["euiccCategory"])
    if len(info["sasAcreditationNumber"].decode("utf-8")) > 64:
        raise der.DerError("sasAcreditationNumber too long")
    return info


def notification_metadata(value):
    """NotificationMetadata (content of BF2F), strictly; seqNumber as a number."""
    metadata = der.fields(value, NOTIFICATION_METADATA)
    metadata["seqNumber"] = der.read_integer(metadata["seqNumber"])
    return metadata


def registered_id(certificate):
    """The registeredID OID (content bytes) of a certificate's subjectAltName."""
    names = der.certificate_extension(certificate, bytes.fromhex("551D11"))
    rid = der.find(der.parse_all(der.parse_single(names, 0x30)), 0x88) if names is not None else None
    if rid is None:
        raise der.DerError("no registeredID")
    return rid


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
    def __init__(self, role, address, certificate, scenario, record_dir=None, ci_key_id=None):
        if role not in ("smdp", "smds"):
            raise ValueError("unknown role %r" % role)
        self.role = role
        self.address = address
        self.certificate = certificate
        self.ci_key_id = ci_key_id
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
                       der.tlv(0xA6, der.tlv(0x80, b"\x88"), der.tlv(0x81, b"\x10"), der.tlv(0x84, secrets.token_bytes(8))),
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
            info1 = der.fields(der.parse_single(unb64(request.get("euiccInfo1")), 0xBF20), EUICC_INFO1)
            check_version(info1["svn"])
            verification = key_ids(info1["euiccCiPKIdListForVerification"])
            signing = key_ids(info1["euiccCiPKIdListForSigning"])
            if not isinstance(request.get("smdpAddress"), str) or len(challenge) != 16:
                raise der.DerError("bad request")
        except (der.DerError, ValueError):
            return 200, failed("8.1", "2.1")
        if "euiccCiPKId" in entry:
            key_id = bytes.fromhex(entry["euiccCiPKId"])
        elif self.ci_key_id is not None and self.ci_key_id in verification and self.ci_key_id in signing:
            key_id = self.ci_key_id
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
            ok = der.fields(response[0][1], AUTHENTICATE_RESPONSE_OK)
            check_certificate(ok["euiccCertificate"])
            check_certificate(ok["eumCertificate"])
            signed = der.fields(ok["euiccSigned1"], EUICC_SIGNED1)
            euicc_info2(signed["euiccInfo2"])
            if signed["transactionId"] != session["txid"] or signed["serverChallenge"] != session["serverChallenge"]:
                return 200, failed("8.1", "6.1")
            context = der.parse_all(signed["ctxParams1"])
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
            if tag == 0x30:
                other = der.fields(value, OTHER_SIGNED_NOTIFICATION)
                check_certificate(other["euiccCertificate"])
                check_certificate(other["eumCertificate"])
                metadata = notification_metadata(other["tbsOtherNotification"])
            elif tag == 0xBF37:
                data = der.fields(der.fields(value, PIR)["profileInstallationResultData"], PIR_DATA)
                metadata = notification_metadata(data["notificationMetadata"])
                final = der.parse_all(data["finalResult"])
                if len(final) != 1 or final[0][0] not in (0xA0, 0xA1):
                    raise der.DerError("finalResult")
            else:
                raise der.DerError("not a PendingNotification")
        except (der.DerError, ValueError, TypeError, UnicodeDecodeError):
            return 200, failed("8.1", "2.1")
        if tag == 0x30:
            self._record_notification({"kind": "other", "seq": metadata["seqNumber"]})
            return 204, None
        txid_text = data["transactionId"].hex().upper()
        if txid_text not in self.sessions:
            return 200, failed("8.10.1", "3.9")
        record = {"kind": "pir", "transactionId": txid_text, "seq": metadata["seqNumber"]}
        if final[0][0] == 0xA0:
            record["result"] = "success"
        else:
            record["result"] = "error"
            try:
                error = der.parse_all(final[0][1])
                record["bppCommandId"] = der.read_integer(der.find(error, 0x80) or b"")
                record["errorReason"] = der.read_integer(der.find(error, 0x81) or b"")
            except der.DerError:
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
            if len(response) != 1 or response[0][0] != 0xA0:
                raise der.DerError("not cancelSessionResponseOk")
            ok = der.fields(response[0][1], CANCEL_SESSION_OK)
            signed = der.fields(ok["euiccCancelSessionSigned"], EUICC_CANCEL_SESSION_SIGNED)
            reason = der.read_integer(signed["reason"])
            if signed["transactionId"] != session["txid"] or signed["smdpOid"] != registered_id(self.certificate):
                return 200, failed("8.1", "6.1")
        except (der.DerError, ValueError, TypeError):
            return 200, failed("8.1", "2.1")
        session["ended"] = True
        self._record_notification({"kind": "cancel", "transactionId": txid_text, "reason": reason})
        return 200, {"header": success_header()}
