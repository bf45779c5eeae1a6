"""The cloud roles' own signing and rendering rules, on known vectors."""

import unittest

import cloud_roles as cr


class CloudRoleRules(unittest.TestCase):
    def test_signature_vectors(self):
        path = cr.signing_path("https://127.0.0.1:8443/api/v2/device/opercode")
        self.assertEqual("/v2/device/opercode", path)
        body = {"sn": "867400050000001", "iccid": "89860012345678901234"}
        text = cr.canonical_text("opercode", path, 1704067200, "00112233445566778899aabbccddeeff", body, "tok123")
        self.assertEqual("MDAzMjUyRENGRTkwNjI2QkM1QjkxMUNEMTBENTE3NEQ1MDg2MEFDNzQzNjU3ODkyNTEyODE2MUIwQ0ExODMyMw==",
                         cr.signature("tok123", text))
        text = cr.canonical_text("status", "/v2/device/status", 1704067200, "00112233445566778899aabbccddeeff",
                                 {"sn": "867400050000001"}, "tok123")
        self.assertEqual("MkFGRjIxRTg4OUFDM0I2MjE3RDBEOEI1QjFDMjg5NTcyNUNGNkMwMUVCMTgwM0QyOEEwNjRFNUVDRUI5QzNCNg==",
                         cr.signature("tok123", text))
        self.assertIsNone(cr.signing_path("v2/x"))

    def test_bootstrap_key_and_printed_form(self):
        self.assertEqual("7b0e0112e88c574b", cr.bootstrap_key("Hb7q%sZ3xk", "867400050000001"))
        self.assertEqual('{\n\t"sn":\t"1",\n\t"type":\t2\n}', cr.cjson_print({"sn": "1", "type": 2}))
        self.assertEqual("{\n}", cr.cjson_print({}))


if __name__ == "__main__":
    unittest.main()
