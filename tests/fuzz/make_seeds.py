#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz programs (tests/fuzz/corpus/<name>).

    python3 tests/fuzz/make_seeds.py [--build-dir build] [--keep DIR]

Most seeds are recorded traffic: record_traffic.py runs the real hbr-agent
(from the build tree's bin/) through an activation, a deactivation and a
check against tools/world/hbr-world, once on each platform, and this script
cuts what the peers and the agent recorded into each program's input:
  - the module's records file: AT commands and replies (module, channel and
    AT+CSIM replies), notifications (device-service frames and payloads)
    and ES10 requests and answers (profile list, certificates, what the
    SM-DP+ signed, the bound profile package, the metadata, the rules
    table, the installation result);
  - the simulated eUICC of docs/examples/seed.json (hbr-modem-sim --stdin)
    answering the profile and notification lists in full (the agent asks
    for a few fields only) and its other lists;
  - the SM-DP+'s request bodies (base64 texts, the notifications it got);
  - the cloud server's records (the bodies of the signed requests);
  - the NTP server's datagrams (its answers rebuilt by its own reply());
  - the registry's .values files;
  - the agent's log: the bootstrap and cloud replies, the activation code,
    and, from a third run that only brings the AT channel up over the COM
    port, the port's friendly name.
The SM-DP+ records requests, not its answers: the ES9+ answers come from
its role (rsp_roles.Role.handle) over one download, and the SM-DS's event
list from the same code. What no run produces is hand-built: the
configuration lines, a HELLO answer frame, a
complete activation code, a rules table that asks for consent, a
notification list of two, and a values file with every value kind.
Seeds are deduplicated and kept small; the corpora are committed.
"""

import argparse
import base64
import json
import os
import shutil
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
SERVERS = os.path.join(ROOT, "tools", "https_test_server")
sys.path.insert(0, SERVERS)
sys.path.insert(0, HERE)

import ntp_test_server  # noqa: E402
import record_traffic  # noqa: E402
import rsp_der as der  # noqa: E402
import test_rsp_roles as t  # noqa: E402

CORPUS = os.path.join(HERE, "corpus")
MAX_SIZE = 4096      # bytes per seed
MAX_SEEDS = 32       # seeds per program
PER_KIND = 3         # seeds per program and label (one kind of command, answer or record)
TARGETS = ("activation_code", "base64_hex", "bertlv", "bootstrap_reply", "bound_profile_package", "certificate",
           "channel_reply", "config_lines", "device_service", "es11_event_retrieval", "es9_authenticate_client",
           "es9_get_bound_profile_package", "es9_initiate_authentication", "es9_status_answer", "modem_reply",
           "module_reply", "notification_list", "ntp_reply", "pir", "policy_rules", "profile_list",
           "profile_metadata", "registry_values", "server_signed1", "signed_reply", "smdp_signed2")


class Corpus:
    """Seeds per program, deduplicated by content, at most MAX_SEEDS each."""

    def __init__(self):
        self.seeds = {name: {} for name in TARGETS}
        self.kinds = {}

    def add(self, name, label, data, per_kind=PER_KIND):
        if isinstance(data, str):
            data = data.encode("utf-8")
        seeds = self.seeds[name]
        label = "".join(c if c.isalnum() or c in "-_." else "_" for c in label)[:48]
        if not data or len(data) > MAX_SIZE or data in seeds or len(seeds) >= MAX_SEEDS or \
                self.kinds.get((name, label), 0) >= per_kind:
            return
        self.kinds[(name, label)] = self.kinds.get((name, label), 0) + 1
        taken = set(seeds.values())
        unique, n = label, 2
        while unique in taken:
            unique, n = "%s-%d" % (label, n), n + 1
        seeds[data] = unique

    def write(self):
        for name, seeds in self.seeds.items():
            folder = os.path.join(CORPUS, name)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            for data, label in seeds.items():
                with open(os.path.join(folder, label), "wb") as out:
                    out.write(data)


def elements(data):
    """The TLVs of a buffer as (tag, value, whole encoding); [] when it does not parse."""
    out, pos = [], 0
    try:
        while pos < len(data):
            tag, value, end = der.read_tlv(data, pos)
            out.append((tag, value, data[pos:end]))
            pos = end
    except der.DerError:
        return []
    return out


def first(data, tag):
    """The whole encoding of the first TLV of the tag among the buffer's TLVs, or None."""
    for found, _, whole in elements(data):
        if found == tag:
            return whole
    return None


def u32(v):
    return struct.pack("<I", v)


def text_field(text):
    return u32(len(text)) + text


def frame(kind, tag, body):
    return struct.pack("<IHHI", 8 + len(body), kind, 0, tag) + body


# -- recorded traffic -----------------------------------------------------------


def exchanges(records):
    """(command, reply) of every AT command, in order."""
    out, pending = [], None
    for r in records:
        if r["kind"] == "command":
            pending = r["text"]
        elif r["kind"] == "reply" and pending is not None:
            out.append((pending, r["text"]))
            pending = None
    return out


def es10(records):
    """(tag, request, answer) of every ES10 exchange, in order."""
    out = []
    for r in records:
        if r["kind"] == "es10":
            request, _, answer = r["text"].partition(" ")
            out.append((r["tag"], bytes.fromhex(request), bytes.fromhex(answer.strip())))
    return out


def command_label(command, reply):
    """The command's name; for APDUs the answer's status word family ("csim-90", "cgla-61")."""
    name = command.strip().split("=")[0].split("?")[0].replace("AT+", "").lower()
    if name in ("csim", "cgla") and '"' in reply:
        return name + "-" + reply.split('"')[-2][-4:-2].lower()
    return name + ("-query" if "?" in command else "")


def module_side(corpus, run, platform):
    records = run.records()
    interface = next((r["text"] for r in records if r["kind"] == "session-open"), "{interface}").encode()
    service = b"{6C3E91D0-5B27-4F8A-9E14-2D7A0B83C659}"
    completions = []
    for command, reply in exchanges(records):
        label = "p%s-%s" % (platform, command_label(command, reply))
        if command.startswith(("AT+CGSN", "AT+GTDUALSIM", "AT+GTPCTPOC", "AT+ESIMMAP", "AT+ESBP")):
            corpus.add("module_reply", label, reply)
        elif command.startswith(("AT+CCHO", "AT+CCHC", "AT+CGLA")):
            corpus.add("channel_reply", label, reply)
            if command.startswith("AT+CCHO"):  # a port that echoes the command
                corpus.add("channel_reply", "p%s-ccho-echo" % platform, command + reply, per_kind=1)
        elif command.startswith("AT+CSIM"):
            corpus.add("modem_reply", label, reply)
            corpus.add("modem_reply", "p%s-csim-echo" % platform, command + reply, per_kind=2)
        if len(completions) < 4:
            completions.append(frame(0x43, 0, text_field(interface) + text_field(service) + u32(len(completions) + 1) +
                                     u32(0) + u32(len(completions) + 1) + text_field(reply.encode())))
    for r in records:
        if r["kind"] == "notification":
            text = r["text"].encode()
            word = r["text"].strip().split()[-1].lower()
            payload = text_field(text)
            event = frame(0x44, 0, text_field(interface) + text_field(service) + u32(r.get("eventId", 1)) +
                          text_field(payload))
            corpus.add("device_service", "event-" + word, event)
            corpus.add("device_service", "payload-" + word, payload)
            corpus.add("device_service", "text-" + word, text)
    corpus.add("device_service", "p%s-completions" % platform, b"".join(completions))
    for command, _ in exchanges(records):
        if command.startswith("AT+CSIM="):
            corpus.add("base64_hex", "apdu-hex", command.split('"')[1])
            break
    card_side(corpus, es10(records), platform)


def card_side(corpus, exchanges10, platform):
    package, in_package, rat = b"", False, None
    for tag, request, answer in exchanges10:
        name = "p%s-%X" % (platform, tag)
        if tag == 0xBF2D:
            corpus.add("profile_list", name, answer)
        if tag == 0xBF28:
            corpus.add("notification_list", name, answer)
        if tag == 0xBF2B:  # the pending notifications: installation results among them
            listed = elements(answer)
            for found, value, _ in elements(listed[0][1] if listed else b""):
                for tag2, _, whole in elements(value) if found == 0xA0 else []:
                    if tag2 == 0xBF37:
                        corpus.add("pir", name + "-listed", whole)
        if tag == 0xBF43:
            rat = answer
        if tag == 0xBF38:
            inner = elements(request)
            body = inner[0][1] if inner else b""
            corpus.add("server_signed1", name, first(body, 0x30) or b"")
            certificates = [whole for found, _, whole in elements(body) if found == 0x30][1:]
            for i, cert in enumerate(certificates):
                corpus.add("certificate", "p%s-server-%d" % (platform, i), cert)
            signed = elements(answer)
            for found, value, _ in elements(signed[0][1] if signed else b""):
                if found == 0xA0:
                    euicc = [whole for tag2, _, whole in elements(value) if tag2 == 0x30][1:]
                    for i, cert in enumerate(euicc):
                        corpus.add("certificate", "p%s-euicc-%d" % (platform, i), cert)
        if tag == 0xBF21:
            inner = elements(request)
            body = inner[0][1] if inner else b""
            corpus.add("smdp_signed2", name, first(body, 0x30) or b"")
            for i, cert in enumerate(whole for found, _, whole in elements(body) if found == 0x30):
                if i > 0:
                    corpus.add("certificate", "p%s-smdp-%d" % (platform, i), cert)
        if tag == 0xBF36:
            in_package, package = True, b""
        if in_package:
            package += request
            if answer.startswith(b"\xbf\x37"):
                corpus.add("pir", name + "-result", answer)
                in_package = False
        # One request and one answer of each kind, up to a few hundred bytes.
        if len(request) <= 512:
            corpus.add("bertlv", "%X-request" % tag, request, per_kind=1)
        if len(answer) <= 512:
            corpus.add("bertlv", "%X-answer" % tag, answer, per_kind=1)
    if package:
        corpus.add("bound_profile_package", "p%s-package" % platform, package)
        metadata = b""
        outer = elements(package)
        for found, value, _ in elements(outer[0][1] if outer else b""):
            if found == 0xA1:
                metadata = b"".join(v for tag2, v, _ in elements(value) if tag2 == 0x88)
        corpus.add("profile_metadata", "p%s-metadata" % platform, metadata)
        if metadata and rat:
            corpus.add("policy_rules", "p%s-metadata-rat" % platform, bytes([min(len(metadata), 255)]) +
                       metadata[:255] + rat)


def server_side(corpus, run, platform):
    for head, body in run.requests("SMDP"):
        function = head.split(b" ")[1].rsplit(b"/", 1)[-1].decode()
        try:
            fields = json.loads(body)
        except ValueError:
            continue
        for key, value in sorted(fields.items()):
            if not isinstance(value, str) or len(value) < 8:
                continue
            corpus.add("base64_hex", "%s-%s" % (function, key), value)
            if key == "pendingNotification":
                raw = base64.b64decode(value)
                corpus.add("pir", "p%s-%s" % (platform, function), raw)
                corpus.add("bertlv", function, raw, per_kind=1)
                notification_list(corpus, raw, platform)
    for record in run.jsonl("cloud", "cloud.jsonl"):  # the signed requests' bodies: JSON of the same family
        if record.get("body"):
            corpus.add("signed_reply", "request-" + record.get("function", ""), json.dumps(record["body"]), per_kind=1)
    for datagram in run.jsonl("ntp", "ntp.jsonl")[:1]:
        corpus.add("ntp_reply", "request", bytes.fromhex(datagram["hex"]))
        if datagram.get("transmit") is not None:
            answer, _ = ntp_test_server.reply("absolute", datagram["transmit"])
            corpus.add("ntp_reply", "reply", answer)
    for path in run.values_files():
        with open(path, "rb") as f:
            corpus.add("registry_values", "p%s-%s" % (platform, os.path.basename(os.path.dirname(path))), f.read())
    agent_log(corpus, run.log())


def notification_list(corpus, pending, platform):
    """The metadata of a received notification in the list the eUICC answers (BF28)."""
    found = elements(pending)
    if not found:
        return
    tag, value, _ = found[0]
    metadata = None
    if tag == 0xBF37:  # the installation result: BF27 holds the metadata after the transaction id
        inner = elements(value)
        metadata = first(inner[0][1], 0xBF2F) if inner else None
    elif tag == 0x30:
        metadata = first(value, 0xBF2F)
    if metadata:
        corpus.add("notification_list", "p%s-list" % platform, der.tlv(0xBF28, der.tlv(0xA0, metadata)))


def agent_log(corpus, log):
    """The cloud's replies and the activation code, as the agent logged them."""
    for line in log.splitlines():
        # Every reply the agent collected (the status replies too are logged under the bootstrap tag).
        if "]: toal: " in line and ", contents: " in line:
            reply = line.split(", contents: ", 1)[1]
            corpus.add("bootstrap_reply", "logged", reply)
            corpus.add("signed_reply", "logged", reply)
        if "::Init]friendlyName:1-" in line:
            corpus.add("device_service", "friendly_name", line.split("]friendlyName:1-", 1)[1].strip())
        if "]:activecode is " in line:
            corpus.add("activation_code", "logged", line.split("]:activecode is ", 1)[1].strip())


# -- the SM-DP+'s and SM-DS's answers ---------------------------------------------


def authenticate(role, address):
    """initiateAuthentication and authenticateClient: (answer, body) of each."""
    first, body1 = t.post(role, "initiateAuthentication", {"euiccInfo1": t.b64(t.info1()),
                                                           "euiccChallenge": t.b64(b"\x05" * 16),
                                                           "smdpAddress": address})
    signed1 = der.parse_all(der.parse_single(base64.b64decode(body1["serverSigned1"]), 0x30))
    euicc_signed1 = der.tlv(0x30, der.tlv(0x80, der.find(signed1, 0x80)), der.tlv(0x83, der.find(signed1, 0x83)),
                            der.tlv(0x84, der.find(signed1, 0x84)), der.tlv(0xBF22, t.info2()),
                            der.tlv(0xA0, der.tlv(0x80, b"M1"), der.tlv(0xA1, b"\x80\x00")))
    response = der.tlv(0xBF38, der.tlv(0xA0, euicc_signed1, der.tlv(0x5F37, b"\x00" * 64), t.CERT, t.CERT))
    second, body2 = t.post(role, "authenticateClient", {"transactionId": body1["transactionId"],
                                                        "authenticateServerResponse": t.b64(response)})
    return (first, body1), (second, body2)


def answers(corpus):
    """One download against the SM-DP+ role with a package of two small elements."""
    scenario = {"profiles": [{"matchingId": "M1", "iccid": "8900000000000000001", "elements": [5, 40],
                              "withA2": True, "ppr": "0640"}]}
    role = t.make_role("smdp", "testsmdpplus1.example.com", scenario)
    (first1, body1), (second, body2) = authenticate(role, "testsmdpplus1.example.com")
    txid = bytes.fromhex(body1["transactionId"])
    prepare = der.tlv(0xBF21, der.tlv(0xA0, der.tlv(0x30, der.tlv(0x80, txid), der.tlv(0x5F49, b"\x04" * 65)),
                                      der.tlv(0x5F37, b"\x00" * 64)))
    third, body3 = t.post(role, "getBoundProfilePackage", {"transactionId": body1["transactionId"],
                                                           "prepareDownloadResponse": t.b64(prepare)})
    refused, _ = t.post(role, "authenticateClient", {"transactionId": "00", "authenticateServerResponse": ""})
    notified, _ = t.post(role, "handleNotification", {"pendingNotification": t.b64(b"\x00")})
    corpus.add("es9_initiate_authentication", "answer", first1.body)
    corpus.add("es9_authenticate_client", "answer", second.body)
    corpus.add("es9_get_bound_profile_package", "answer", third.body)
    corpus.add("es9_status_answer", "refused", refused.body)
    corpus.add("es9_status_answer", "notification", notified.body or b"{}")
    corpus.add("es9_status_answer", "success", json.dumps({"header": {"functionExecutionStatus":
                                                                      {"status": "Executed-Success"}}}))
    ds = t.make_role("smds", "testsmds.example.com",
                     {"eventEntries": [{"eventId": "E1", "rspServerAddress": "testsmdpplus1.example.com"}]})
    _, (events, _) = authenticate(ds, "testsmds.example.com")
    corpus.add("es11_event_retrieval", "events", events.body)
    corpus.add("es11_event_retrieval", "answer", json.dumps({
        "header": {"functionExecutionStatus": {"status": "Executed-Success"}},
        "transactionId": body1["transactionId"],
        "eventEntries": [{"eventId": "E1", "rspServerAddress": "testsmdpplus1.example.com"}]}))

    signed = base64.b64decode(body1["serverSigned1"])
    metadata = base64.b64decode(body2["profileMetadata"])
    package = base64.b64decode(body3["boundProfilePackage"])
    corpus.add("server_signed1", "answer", signed)
    corpus.add("certificate", "answer", base64.b64decode(body1["serverCertificate"]))
    corpus.add("smdp_signed2", "answer", base64.b64decode(body2["smdpSigned2"]))
    corpus.add("profile_metadata", "answer", metadata)
    corpus.add("bound_profile_package", "answer", package)
    corpus.add("bertlv", "answer-package", package[:200])
    corpus.add("base64_hex", "answer-hex", signed.hex().upper())
    return metadata


# -- shapes no run produces ---------------------------------------------------------


def hand_built(corpus, metadata):
    corpus.add("activation_code", "full", "1$testsmdpplus1.example.com$M1$1.3.6.1.4.1.31746$1")
    # A rules table with a PPR1 rule that needs consent, for the answer's metadata (PPR1).
    rat = der.tlv(0xBF43, der.tlv(0xA0, der.tlv(0x30, der.tlv(0x80, b"\x06\x40"),
                                                der.tlv(0xA1, der.tlv(0x30, der.tlv(0x80, b"\x21\xf3\x54"))),
                                                der.tlv(0x82, b"\x07\x80"))))
    corpus.add("policy_rules", "answer-metadata-rat", bytes([min(len(metadata), 255)]) + metadata[:255] + rat)
    notification = t.metadata(b"\x01", b"testsmdpplus1.example.com")
    corpus.add("notification_list", "two", der.tlv(0xBF28, der.tlv(0xA0, notification,
                                                                    t.metadata(b"\x02", b"dp", b"\x06\x40"))))
    corpus.add("device_service", "hello", frame(0x81, 1, struct.pack("<iI", 0, 1)))
    corpus.add("config_lines", "ini", "# engine\nCURL_TIMEOUT=7\nprofileRefreshFlag=false\nCURL_SSL_VERIFYPEER=FALSE\n"
                                      "MEM_ERR_IF_MEM_COUNTER_EQ=0\n")
    corpus.add("registry_values", "kinds", "HBRREG1 3\n4 4 HbrAgentDebugLevel 02000000\n1 6 @ 610062000000\n"
                                           "1 0 Empty -\n")


def main():
    parser = argparse.ArgumentParser(description="Records traffic and writes the fuzz seed corpora.")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"),
                        help="build tree with bin/hbr-agent, hbr-reg and hbr-modem-sim (default build/)")
    parser.add_argument("--keep", help="folder for the runs' records (default: a temporary one, removed)")
    args = parser.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix="hbr-seeds.")
    corpus = Corpus()
    hand_built(corpus, answers(corpus))
    try:
        for platform in ("0", "1"):
            run = record_traffic.record(args.build_dir, os.path.join(folder, "platform-" + platform), platform, "mbn")
            module_side(corpus, run, platform)
            server_side(corpus, run, platform)
        # The COM port's bring-up only (its flows are slow): the port's friendly name.
        run = record_traffic.record(args.build_dir, os.path.join(folder, "com"), "1", "com", flows=())
        module_side(corpus, run, "com")
        agent_log(corpus, run.log())
        # The eUICC of the example seed (every field it takes) answering the lists in full.
        card = record_traffic.card_session(args.build_dir, os.path.join(ROOT, "docs", "examples", "seed.json"),
                                           os.path.join(folder, "card"))
        card_side(corpus, [(elements(request)[0][0], request, answer) for request, answer in card], "card")
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)
    corpus.write()
    for name in TARGETS:
        print("%-32s %3d seeds" % (name, len(corpus.seeds[name])))


if __name__ == "__main__":
    main()
