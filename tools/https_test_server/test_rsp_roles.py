"""Unit tests of the test server's DER codec and SM-DP+/SM-DS roles."""

import base64
import hashlib
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import rsp_der as der  # noqa: E402
import rsp_roles  # noqa: E402

def certificate(*extensions):
    """A made-up DER certificate with these (OID hex, extnValue) extensions."""
    listed = [der.tlv(0x30, der.tlv(0x06, bytes.fromhex(oid)), der.tlv(0x04, value)) for oid, value in extensions]
    tbs = der.tlv(0x30, der.tlv(0x02, b"\x01"), der.tlv(0xA3, der.tlv(0x30, *listed)))
    return der.tlv(0x30, tbs, der.tlv(0x30, der.tlv(0x06, b"\x2a")), der.tlv(0x03, b"\x00"))


SMDP_OID = bytes.fromhex("88370A01")  # 2.999.10.1
CERT = certificate(("551D11", der.tlv(0x30, der.tlv(0x88, SMDP_OID))))
CI_KEY_ID = b"\x11" * 20


def b64(data):
    return base64.b64encode(data).decode("ascii")


def make_role(kind, address, scenario, folder=None):
    return rsp_roles.Role(kind, address, CERT, scenario, folder, CI_KEY_ID)


def info1(verification=(CI_KEY_ID,), signing=(b"\x22" * 20, CI_KEY_ID)):
    return der.tlv(0xBF20, der.tlv(0x82, b"\x02\x02\x00"), der.tlv(0xA9, *[der.tlv(0x04, k) for k in verification]),
                   der.tlv(0xAA, *[der.tlv(0x04, k) for k in signing]))


def info2(drop=None, extra=b""):
    """EUICCInfo2 content as the simulated eUICC sends it, less the field `drop`."""
    keys = der.tlv(0x04, CI_KEY_ID)
    fields = [der.tlv(0x81, b"\x02\x02\x00"), der.tlv(0x82, b"\x02\x02\x00"), der.tlv(0x83, b"\x01\x02\x00"),
              der.tlv(0x84, bytes.fromhex("810100820307D000")), der.tlv(0x85, bytes.fromhex("066B02C0")),
              der.tlv(0x88, bytes.fromhex("0490")), der.tlv(0xA9, keys), der.tlv(0xAA, keys),
              der.tlv(0x04, b"\x01\x00\x00"), der.tlv(0x0C, b"SAS-1")]
    return b"".join(f for f in fields if f[0] != drop) + extra


def metadata(seq, address=b"dp", event=b"\x05\x20"):
    return der.tlv(0xBF2F, der.tlv(0x80, seq), der.tlv(0x81, event), der.tlv(0x0C, address))


def post(role, function, request):
    answer = role.handle("/gsma/rsp2/es9plus/" + function, json.dumps(request).encode())
    return answer, (json.loads(answer.body) if answer.body else None)


class DerTest(unittest.TestCase):
    def test_lengths_and_tags(self):
        self.assertEqual(der.tlv(0x80, b""), b"\x80\x00")
        self.assertEqual(der.tlv(0xBF2E, b"\x01")[:3], b"\xbf\x2e\x01")
        self.assertEqual(der.encode_length(0x7F), b"\x7f")
        self.assertEqual(der.encode_length(0x80), b"\x81\x80")
        self.assertEqual(der.encode_length(0x100), b"\x82\x01\x00")
        self.assertEqual(der.encode_length(0x10000), b"\x83\x01\x00\x00")
        big = der.tlv(0x86, b"\xaa" * 300)
        self.assertEqual(der.parse_all(big), [(0x86, b"\xaa" * 300)])
        self.assertEqual(der.parse_single(der.tlv(0x5F37, b"\x01\x02"), 0x5F37), b"\x01\x02")

    def test_malformed_input_fails(self):
        for data in (b"\x80", b"\x80\x02\x01", b"\xbf", b"\x80\x80", b"\x80\x85\x00\x00\x00\x00\x01"):
            with self.assertRaises(der.DerError):
                der.parse_all(data)
        with self.assertRaises(der.DerError):
            der.parse_single(b"\x80\x00\x81\x00")
        with self.assertRaises(der.DerError):
            der.parse_single(b"\x80\x00", 0x81)

    def test_integers_fields_and_key_ids(self):
        for content, number in ((b"\xc8", -56), (b"\x00\xc8", 200), (b"\x00\x9c\x40", 40000), (b"\xff", -1)):
            self.assertEqual(der.read_integer(content), number)
        for bad in (b"", b"\x00\x05", b"\xff\x80", b"\x01" * 9):
            with self.assertRaises(der.DerError):
                der.read_integer(bad)
        layout = [(0x80, "a", True), (0x81, "b", False), (0x82, "c", True), "..."]
        self.assertEqual(der.fields(bytes.fromhex("800101820102830100"), layout), {"a": b"\x01", "b": None, "c": b"\x02"})
        for bad in ("820102", "8201028001 01", "800101820102820102", "800101830100820102"):
            with self.assertRaises(der.DerError):
                der.fields(bytes.fromhex(bad.replace(" ", "")), layout)
        with self.assertRaises(der.DerError):  # not extensible
            der.fields(bytes.fromhex("800101820102830100"), layout[:-1])
        self.assertEqual(der.subject_key_id(certificate(("551D0E", der.tlv(0x04, b"\x07" * 20)))), b"\x07" * 20)
        with self.assertRaises(der.DerError):
            der.subject_key_id(CERT)

    def test_iccid(self):
        self.assertEqual(der.iccid_bytes("8944476500001234567").hex().upper(), "984474560000214365F7")
        self.assertEqual(der.iccid_digits(der.iccid_bytes("8944476500001234567")), "8944476500001234567")


class RoleTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        for name in os.listdir(self.folder):
            os.remove(os.path.join(self.folder, name))
        os.rmdir(self.folder)

    def initiate(self, role, challenge=b"\x05" * 16, euicc_info1=None):
        answer, body = post(role, "initiateAuthentication", {"euiccInfo1": b64(euicc_info1 or info1()),
                                                             "euiccChallenge": b64(challenge), "smdpAddress": "x"})
        self.assertEqual(answer.status, 200)
        return body

    def authenticate(self, role, body, matching=b"", txid_bytes=None, euicc_info2=info2()):
        signed1 = der.parse_all(der.parse_single(base64.b64decode(body["serverSigned1"]), 0x30))
        txid = txid_bytes or der.find(signed1, 0x80)
        euicc_signed1 = der.tlv(0x30, der.tlv(0x80, txid), der.tlv(0x83, der.find(signed1, 0x83)),
                                der.tlv(0x84, der.find(signed1, 0x84)), der.tlv(0xBF22, euicc_info2),
                                der.tlv(0xA0, der.tlv(0x80, matching), der.tlv(0xA1, b"\x80\x00")))
        response = der.tlv(0xBF38, der.tlv(0xA0, euicc_signed1, der.tlv(0x5F37, b"\x00" * 64), CERT, CERT))
        return post(role, "authenticateClient",
                    {"transactionId": body["transactionId"], "authenticateServerResponse": b64(response)})

    def test_initiate_authentication_builds_server_signed1(self):
        role = make_role("smdp", "dp.example:4443", [])
        body = self.initiate(role)
        self.assertEqual(body["header"]["functionExecutionStatus"]["status"], "Executed-Success")
        txid = body["transactionId"]
        self.assertEqual(len(txid), 32)
        self.assertEqual(txid, txid.upper())
        signed1 = der.parse_all(der.parse_single(base64.b64decode(body["serverSigned1"]), 0x30))
        self.assertEqual([t for t, _ in signed1], [0x80, 0x81, 0x83, 0x84])
        self.assertEqual(der.find(signed1, 0x80).hex().upper(), txid)
        self.assertEqual(der.find(signed1, 0x81), b"\x05" * 16)
        self.assertEqual(der.find(signed1, 0x83), b"dp.example:4443")
        self.assertEqual(base64.b64decode(body["euiccCiPKIdToBeUsed"]), der.tlv(0x04, CI_KEY_ID))
        self.assertEqual(base64.b64decode(body["serverCertificate"]), CERT)
        self.assertEqual(len(base64.b64decode(body["serverSignature1"])), 67)
        # A short challenge is refused.
        _, refused = post(role, "initiateAuthentication",
                          {"euiccInfo1": b64(info1()), "euiccChallenge": b64(b"\x01" * 15), "smdpAddress": "x"})
        self.assertEqual(refused["header"]["functionExecutionStatus"]["status"], "Failed")
        # Its CI must be in both key-id lists; EUICCInfo1 is read strictly.
        for euicc_info1, codes in ((info1(verification=[b"\x22" * 20]), ("8.8.2", "3.1")),
                                   (info1(signing=[]), ("8.8.2", "3.1")),
                                   (der.tlv(0xBF20, der.tlv(0xA9, b""), der.tlv(0x82, b"\x02\x02\x00"),
                                            der.tlv(0xAA, b"")), ("8.1", "2.1")),
                                   (der.tlv(0xBF20, der.tlv(0x82, b"\x02\x02"), der.tlv(0xA9, b""),
                                            der.tlv(0xAA, b"")), ("8.1", "2.1"))):
            _, refused = post(role, "initiateAuthentication", {"euiccInfo1": b64(euicc_info1),
                                                               "euiccChallenge": b64(b"\x01" * 16), "smdpAddress": "x"})
            self.assertEqual(refused["header"]["functionExecutionStatus"]["statusCodeData"],
                             {"subjectCode": codes[0], "reasonCode": codes[1]})

    def test_authenticate_client_reads_euicc_info2_strictly(self):
        role = make_role("smdp", "dp", [])
        # An extension after sasAcreditationNumber is read past.
        answer, body = self.authenticate(role, self.initiate(role), euicc_info2=info2(extra=der.tlv(0x8D, b"\x00")))
        self.assertEqual(body["header"]["functionExecutionStatus"]["status"], "Executed-Success")
        for broken in (info2(drop=0x04), info2(drop=0x83), info2(drop=0xAA),
                       info2().replace(der.tlv(0x85, bytes.fromhex("066B02C0")), der.tlv(0x85, b"\x09\x00")),
                       info2().replace(der.tlv(0x0C, b"SAS-1"), der.tlv(0x0C, b"S" * 65)),
                       info2().replace(der.tlv(0x04, b"\x01\x00\x00"), der.tlv(0x04, b"\x01\x00"))):
            _, body = self.authenticate(role, self.initiate(role), euicc_info2=broken)
            self.assertEqual(body["header"]["functionExecutionStatus"]["statusCodeData"],
                             {"subjectCode": "8.1", "reasonCode": "2.1"})

    def test_authenticate_client_selects_the_profile(self):
        scenario = {"profiles": [{"matchingId": "A"}, {"matchingId": "B", "iccid": "8900000000000000001",
                                                       "ccRequired": True}], "defaultProfile": "A"}
        role = make_role("smdp", "dp", scenario)
        answer, body = self.authenticate(role, self.initiate(role), b"B")
        self.assertEqual(answer.status, 200)
        metadata = der.parse_all(der.parse_single(base64.b64decode(body["profileMetadata"]), 0xBF25))
        self.assertEqual(der.iccid_digits(der.find(metadata, 0x5A)), "8900000000000000001")
        signed2 = der.parse_all(der.parse_single(base64.b64decode(body["smdpSigned2"]), 0x30))
        self.assertEqual([t for t, _ in signed2], [0x80, 0x01, 0x5F49])
        self.assertEqual(der.find(signed2, 0x01), b"\xff")
        # An unknown matchingId: 8.2.6 / 3.8.
        _, unknown = self.authenticate(role, self.initiate(role), b"nope")
        self.assertEqual(unknown["header"]["functionExecutionStatus"]["statusCodeData"],
                         {"subjectCode": "8.2.6", "reasonCode": "3.8"})
        # A transactionId that does not match the session.
        _, wrong = self.authenticate(role, self.initiate(role), b"", b"\x00" * 16)
        self.assertEqual(wrong["header"]["functionExecutionStatus"]["status"], "Failed")

    def test_package_shape_and_confirmation_code(self):
        scenario = {"profiles": [{"ccRequired": True, "confirmationCode": "9876", "metadataPiece": 10,
                                  "elements": [5, 300], "withA2": True}]}
        role = make_role("smdp", "dp", scenario)
        first = self.initiate(role)
        self.authenticate(role, first)
        txid = bytes.fromhex(first["transactionId"])

        def prepare(hash_cc):
            parts = [der.tlv(0x80, txid), der.tlv(0x5F49, b"\x04" * 65)]
            if hash_cc is not None:
                parts.append(der.tlv(0x04, hash_cc))
            response = der.tlv(0xBF21, der.tlv(0xA0, der.tlv(0x30, *parts), der.tlv(0x5F37, b"\x00" * 64)))
            return post(role, "getBoundProfilePackage",
                        {"transactionId": first["transactionId"], "prepareDownloadResponse": b64(response)})[1]

        self.assertEqual(prepare(None)["header"]["functionExecutionStatus"]["statusCodeData"]["subjectCode"], "8.2.7")
        self.assertEqual(prepare(b"\x00" * 32)["header"]["functionExecutionStatus"]["status"], "Failed")
        good = hashlib.sha256(hashlib.sha256(b"9876").digest() + txid).digest()
        body = prepare(good)
        package = der.parse_all(der.parse_single(base64.b64decode(body["boundProfilePackage"]), 0xBF36))
        self.assertEqual([t for t, _ in package], [0xBF23, 0xA0, 0xA1, 0xA2, 0xA3])
        bf23 = der.parse_all(package[0][1])
        self.assertEqual(der.find(bf23, 0x82), b"\x01")
        self.assertEqual(der.find(bf23, 0x80), txid)
        crt = der.parse_all(der.find(bf23, 0xA6))
        self.assertEqual([(t, len(v)) for t, v in crt], [(0x80, 1), (0x81, 1), (0x84, 8)])
        self.assertEqual(crt[:2], [(0x80, b"\x88"), (0x81, b"\x10")])
        pieces = der.parse_all(package[2][1])
        self.assertTrue(all(t == 0x88 and len(v) <= 10 for t, v in pieces))
        self.assertEqual(b"".join(v for _, v in pieces), role.metadata(role.profiles[0]))
        self.assertEqual([len(v) for _, v in der.parse_all(package[4][1])], [5, 300])

    def test_notifications_and_cancel(self):
        role = make_role("smdp", "dp", [], self.folder)
        first = self.initiate(role)
        txid = bytes.fromhex(first["transactionId"])
        pir = der.tlv(0xBF37, der.tlv(0xBF27, der.tlv(0x80, txid), metadata(b"\x02\x03", event=b"\x07\x80"),
                                      der.tlv(0x06, b"\x2a"),
                                      der.tlv(0xA2, der.tlv(0xA1, der.tlv(0x80, b"\x02"), der.tlv(0x81, b"\x09")))),
                      der.tlv(0x5F37, b"\x00" * 64))
        answer, body = post(role, "handleNotification", {"pendingNotification": b64(pir)})
        self.assertEqual((answer.status, body), (204, None))

        def other(seq, *certificates):
            return der.tlv(0x30, metadata(seq), der.tlv(0x5F37, b"\x00" * 64), *certificates)
        # seqNumber is a DER INTEGER: 00 C8 is 200, C8 alone is -56.
        for notification in (other(b"\x00\xc8", CERT, CERT), other(b"\xc8", CERT, CERT)):
            answer, _ = post(role, "handleNotification", {"pendingNotification": b64(notification)})
            self.assertEqual(answer.status, 204)
        for broken in (other(b"\x00\x05", CERT, CERT), other(b"\x05", CERT), other(b"\x05", CERT, b"\x30\x00"),
                       der.tlv(0x30, der.tlv(0xBF2F, der.tlv(0x80, b"\x05"), der.tlv(0x81, b"\x05\x20")),
                               der.tlv(0x5F37, b""), CERT, CERT)):
            _, body = post(role, "handleNotification", {"pendingNotification": b64(broken)})
            self.assertEqual(body["header"]["functionExecutionStatus"]["status"], "Failed")
        with open(os.path.join(self.folder, "notifications.jsonl")) as f:
            records = [json.loads(line) for line in f]
        self.assertEqual(records, [{"kind": "pir", "transactionId": first["transactionId"], "seq": 0x203,
                                    "result": "error", "bppCommandId": 2, "errorReason": 9},
                                   {"kind": "other", "seq": 200}, {"kind": "other", "seq": -56}])

        # EuiccCancelSessionSigned: 80 transactionId, 81 smdpOid, 82 reason.
        second = self.initiate(role)
        second_txid = bytes.fromhex(second["transactionId"])

        def cancel(*signed):
            response = der.tlv(0xBF41, der.tlv(0xA0, der.tlv(0x30, *signed), der.tlv(0x5F37, b"")))
            return post(role, "cancelSession", {"transactionId": second["transactionId"],
                                                "cancelSessionResponse": b64(response)})[1]
        self.assertEqual(cancel(der.tlv(0x80, second_txid), der.tlv(0x81, b"\x05"))["header"]["functionExecutionStatus"]
                         ["statusCodeData"], {"subjectCode": "8.1", "reasonCode": "2.1"})
        self.assertEqual(cancel(der.tlv(0x80, second_txid), der.tlv(0x81, b"\x2a"), der.tlv(0x82, b"\x05"))
                         ["header"]["functionExecutionStatus"]["statusCodeData"], {"subjectCode": "8.1", "reasonCode": "6.1"})
        done = cancel(der.tlv(0x80, second_txid), der.tlv(0x81, SMDP_OID), der.tlv(0x82, b"\x05"))
        self.assertEqual(done, {"header": {"functionExecutionStatus": {"status": "Executed-Success"}}})
        with open(os.path.join(self.folder, "notifications.jsonl")) as f:
            self.assertEqual(json.loads(f.readlines()[-1]), {"kind": "cancel", "transactionId": second["transactionId"],
                                                             "reason": 5})
        again = cancel(der.tlv(0x80, second_txid), der.tlv(0x81, SMDP_OID), der.tlv(0x82, b"\x05"))
        self.assertEqual(again["header"]["functionExecutionStatus"]["status"], "Failed")

    def test_scenario_entries_by_call_and_knobs(self):
        entries = [
            {"function": "initiateAuthentication", "call": 2, "status": 404, "body": "gone"},
            {"function": "initiateAuthentication", "call": 3, "execStatus": "executed-success",
             "subjectCode": "8.1", "remove": ["serverSigned1"], "keyCase": "upper", "httpStatus": 201},
            {"function": "initiateAuthentication", "call": "always", "drop": "header",
             "eventEntries": [], "noBody": False},
            {"function": "handleNotification", "call": "always", "action": "hold", "seconds": 2},
        ]
        role = make_role("smdp", "dp", entries)
        first = self.initiate(role)
        self.assertIn("SERVERSIGNED1".lower(), [k.lower() for k in first])
        second = role.handle("/x/initiateAuthentication", b"{}")
        self.assertEqual((second.status, second.headers, second.body), (404, [], b"gone"))
        answer, third = post(role, "initiateAuthentication",
                             {"euiccInfo1": b64(info1()), "euiccChallenge": b64(b"\x01" * 16), "smdpAddress": "x"})
        self.assertEqual(answer.status, 201)
        self.assertNotIn("SERVERSIGNED1", third)
        self.assertEqual(third["HEADER"]["FUNCTIONEXECUTIONSTATUS"],
                         {"STATUS": "executed-success", "STATUSCODEDATA": {"SUBJECTCODE": "8.1"}})
        fourth = self.initiate(role)
        self.assertNotIn("header", fourth)
        self.assertEqual(fourth["eventEntries"], [])
        self.assertEqual(role.handle("/a/handleNotification", b"{}").action, "hold")
        self.assertEqual(role.handle("/unknown", b"{}").status, 404)
        # Routing goes by the ending of the path only.
        self.assertEqual(role.handle("/pad/pad/gsma/rsp2/es9plus/cancelSession", b"{}").status, 200)

    def test_smds_answers_event_entries(self):
        events = [{"eventId": "E%d" % i, "rspServerAddress": "dp%d" % i} for i in range(3)]
        role = make_role("smds", "ds.example", {"eventEntries": events})
        body = self.initiate(role)
        signed1 = der.parse_all(der.parse_single(base64.b64decode(body["serverSigned1"]), 0x30))
        self.assertEqual(der.find(signed1, 0x83), b"ds.example")
        _, answer = self.authenticate(role, body)
        self.assertEqual(answer["eventEntries"], events)
        self.assertNotIn("transactionId", answer)


if __name__ == "__main__":
    unittest.main()
