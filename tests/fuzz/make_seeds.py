#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz programs (tests/fuzz/corpus/<name>).

The SM-DP+ answers come from the test server's role (rsp_roles.Role.handle)
over one download; the card's answers are built with the same DER codec in
the shapes the simulated eUICC sends. Run it again after a change of those
shapes; the seeds are committed.
"""

import base64
import json
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "https_test_server"))

import rsp_der as der  # noqa: E402
import test_rsp_roles as t  # noqa: E402

CORPUS = os.path.join(HERE, "corpus")


def write(name, label, data):
    folder = os.path.join(CORPUS, name)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, label), "wb") as out:
        out.write(data)


def answers():
    """One download against the SM-DP+ role with a package of two small elements."""
    scenario = {"profiles": [{"matchingId": "M1", "iccid": "8900000000000000001", "elements": [5, 40],
                              "withA2": True, "ppr": "0640"}]}
    role = t.make_role("smdp", "testsmdpplus1.example.com", scenario)
    first, body1 = t.post(role, "initiateAuthentication", {"euiccInfo1": t.b64(t.info1()),
                                                           "euiccChallenge": t.b64(b"\x05" * 16),
                                                           "smdpAddress": "testsmdpplus1.example.com"})
    signed1 = der.parse_all(der.parse_single(base64.b64decode(body1["serverSigned1"]), 0x30))
    euicc_signed1 = der.tlv(0x30, der.tlv(0x80, der.find(signed1, 0x80)), der.tlv(0x83, der.find(signed1, 0x83)),
                            der.tlv(0x84, der.find(signed1, 0x84)), der.tlv(0xBF22, t.info2()),
                            der.tlv(0xA0, der.tlv(0x80, b"M1"), der.tlv(0xA1, b"\x80\x00")))
    response = der.tlv(0xBF38, der.tlv(0xA0, euicc_signed1, der.tlv(0x5F37, b"\x00" * 64), t.CERT, t.CERT))
    second, body2 = t.post(role, "authenticateClient", {"transactionId": body1["transactionId"],
                                                        "authenticateServerResponse": t.b64(response)})
    txid = bytes.fromhex(body1["transactionId"])
    prepare = der.tlv(0xBF21, der.tlv(0xA0, der.tlv(0x30, der.tlv(0x80, txid), der.tlv(0x5F49, b"\x04" * 65)),
                                      der.tlv(0x5F37, b"\x00" * 64)))
    third, body3 = t.post(role, "getBoundProfilePackage", {"transactionId": body1["transactionId"],
                                                           "prepareDownloadResponse": t.b64(prepare)})
    refused, _ = t.post(role, "authenticateClient", {"transactionId": "00", "authenticateServerResponse": ""})
    return (first.body, second.body, third.body, refused.body), (body1, body2, body3)


def main():
    (a1, a2, a3, refused), (body1, body2, body3) = answers()
    write("es9_initiate_authentication", "answer", a1)
    write("es9_authenticate_client", "answer", a2)
    write("es9_get_bound_profile_package", "answer", a3)
    write("es9_status_answer", "refused", refused)
    write("es9_status_answer", "success", json.dumps({"header": {"functionExecutionStatus":
                                                                 {"status": "Executed-Success"}}}))
    write("es11_event_retrieval", "answer", json.dumps({
        "header": {"functionExecutionStatus": {"status": "Executed-Success"}},
        "transactionId": body1["transactionId"],
        "eventEntries": [{"eventId": "E1", "rspServerAddress": "testsmdpplus1.example.com"}]}))

    signed1 = base64.b64decode(body1["serverSigned1"])
    metadata = base64.b64decode(body2["profileMetadata"])
    package = base64.b64decode(body3["boundProfilePackage"])
    write("server_signed1", "answer", signed1)
    write("certificate", "server", base64.b64decode(body1["serverCertificate"]))
    write("smdp_signed2", "answer", base64.b64decode(body2["smdpSigned2"]))
    write("profile_metadata", "answer", metadata)
    rat = der.tlv(0xBF43, der.tlv(0x30, der.tlv(0x80, b"\x06\x40"),
                                  der.tlv(0xA1, der.tlv(0x30, der.tlv(0x80, b"\x21\xf3\x54"))),
                                  der.tlv(0x82, b"\x00\x00")))
    write("policy_rules", "metadata_rat", bytes([min(len(metadata), 255)]) + metadata[:255] + rat)
    write("bound_profile_package", "package", package)
    write("bertlv", "package", package[:200])
    write("base64_hex", "base64", body1["serverSigned1"])
    write("base64_hex", "hex", signed1.hex().upper())
    write("activation_code", "plain", "1$testsmdpplus1.example.com$M1")
    write("activation_code", "full", "1$testsmdpplus1.example.com$M1$1.3.6.1.4.1.31746$1")

    notification = t.metadata(b"\x01", b"testsmdpplus1.example.com")
    write("notification_list", "two", der.tlv(0xBF28, der.tlv(0xA0, notification, t.metadata(b"\x02", b"dp",
                                                                                                b"\x06\x40"))))
    pir = der.tlv(0xBF37, der.tlv(0xBF27, der.tlv(0x80, bytes.fromhex(body1["transactionId"])), notification,
                                  der.tlv(0x06, b"\x2b\x06\x01"),
                                  der.tlv(0xA2, der.tlv(0xA0, der.tlv(0x4F, b"\xa0\x00\x00\x05\x59\x10\x10\xff"),
                                                        der.tlv(0x04, b"\x30\x00")))),
                  der.tlv(0x5F37, b"\x00" * 64))
    write("pir", "success", pir)
    entry = der.tlv(0xE3, der.tlv(0x5A, der.iccid_bytes("8900000000000000001")),
                    der.tlv(0x4F, b"\xa0\x00\x00\x05\x59\x10\x10\xff\xff\xff\xff\x89\x00\x00\x01\x00"),
                    der.tlv(0x9F70, b"\x01"), der.tlv(0x90, b"nick"), der.tlv(0x91, b"Provider"),
                    der.tlv(0x92, b"Profile"), der.tlv(0x95, b"\x02"), der.tlv(0x99, b"\x06\x40"))
    write("profile_list", "one", der.tlv(0xBF2D, der.tlv(0xA0, entry)))
    write("modem_reply", "csim", '\r\n+CSIM: 10,"BF2D039000"\r\n\r\nOK\r\n')
    write("modem_reply", "echo", 'AT+CSIM=10,"81E2910003BF2D00"\r\r\n+CSIM: 4,"6110"\r\n\r\nOK\r\n')
    write("config_lines", "ini", "# engine\nCURL_TIMEOUT=7\nprofileRefreshFlag=false\nCURL_SSL_VERIFYPEER=FALSE\n"
                                 "MEM_ERR_IF_MEM_COUNTER_EQ=0\n")

    agent_seeds()


def frame(kind, tag, body):
    return struct.pack("<IHHI", 8 + len(body), kind, 0, tag) + body


def text_field(text):
    return struct.pack("<I", len(text)) + text


def agent_seeds():
    """The agent's inputs, in the shapes the simulated module and the cloud
    test servers send."""
    write("module_reply", "imei", '\r\n+CGSN: "867400050000001"\r\n\r\nOK\r\n')
    write("module_reply", "slot", "\r\n+GTDUALSIM: 0\r\n\r\nOK\r\n")
    write("module_reply", "iccid", "\r\nprov_iccid: 8900000000000000001\r\npoc_usage_type: 1\r\n\r\nOK\r\n")
    write("module_reply", "sync", "\r\n+GTPCTPOC: 6,1\r\n\r\nOK\r\n")
    write("channel_reply", "ccho", 'AT+CCHO="A0000005591010FFFFFFFF8900000100"\r\r\n1\r\n\r\nOK\r\n')
    write("channel_reply", "cgla", '\r\n+CGLA: 4,"6F00"\r\n+CGLA: 4,"9000"\r\n\r\nOK\r\n')
    event = text_field(b"{interface-1}") + text_field(b"{service}") + struct.pack("<I", 1) + \
        text_field(b"+GTPCTPOC: ACTIVE")
    write("device_service", "frames", frame(0x81, 1, struct.pack("<iI", 0, 1)) + frame(0x44, 0, event))
    write("device_service", "payload", struct.pack("<I", 17) + b"+GTPCTPOC: CHECK\0")
    write("device_service", "friendly_name", "Hollowbright Modem AT Port (COM7)")
    write("bootstrap_reply", "reply", json.dumps({
        "code": 0, "data": {"company": "Hollowbright Test",
                            "service": {"url": "https://127.0.0.1:1/api/v2/device/opercode",
                                        "pecUrl": "https://127.0.0.1:1/api/v2/device/status", "token": "tok"},
                            "apns": [{"apn": "internet,ipv4v6,chap,u,p,3", "iccid": ["8986", "8900"]},
                                     {"apn": "ims,ipv4,pap,,,1", "iccid": ["8901"]}]}}))
    write("signed_reply", "opercode", json.dumps({"code": 0, "message": "success", "data": {
        "status": 1, "operation": 1, "token": "", "simMode": 0,
        "activeCode": "1$testsmdpplus1.example.com$M1"}}))
    write("signed_reply", "status", json.dumps({"code": 0, "message": "success"}))
    write("ntp_reply", "reply", bytes([0x1C, 2, 0, 0xE9]) + bytes(36) + struct.pack(">II", 0xE9C2F000, 0))
    write("registry_values", "values", "HBRREG1 3\n4 4 HbrAgentDebugLevel 02000000\n1 6 @ 610062000000\n"
                                       "1 0 Empty -\n")


if __name__ == "__main__":
    main()
