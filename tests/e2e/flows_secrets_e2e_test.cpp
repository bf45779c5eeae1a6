// The agent's secrets stay out of everything it writes for people: its
// service log, the engine's lpa.log, stderr and stdout, over every flow.
#include "flows_e2e.h"

using namespace flows_e2e;

namespace {

const char kToken[] = "SigningKey-5b1f0c9e2d7a4863e1f7";
const char kPassword[] = "ApnPass-7e3c91d0a4b2";

std::string Hex(const std::string &bytes, const char *digits)
{
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Base64(const std::string &bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned long v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 0; k < 4; ++k) out += kDigits[(v >> (18 - 6 * k)) & 63];
    }
    return out;
}

// A secret as it would show: itself, in hex (either case), and in Base64
// at each of the three alignments within a longer buffer (only the digits
// that depend on the secret alone).
std::vector<std::string> Forms(const std::string &secret)
{
    std::vector<std::string> forms = {secret, Hex(secret, "0123456789abcdef"), Hex(secret, "0123456789ABCDEF")};
    for (size_t shift = 0; shift < 3; ++shift) {
        const std::string encoded = Base64(std::string(shift, '\0') + secret);
        const size_t first = (8 * shift + 5) / 6, end = 8 * (shift + secret.size()) / 6;
        forms.push_back(encoded.substr(first, end - first));
    }
    return forms;
}

std::string ConfValue(const std::string &name)
{
    for (const std::string &line : hbr_test::ReadLines(std::string(HBR_DEPLOYMENT_DATA_DIR) + "/deployment.conf")) {
        if (line.compare(0, name.size() + 1, name + "=") == 0) return line.substr(name.size() + 1);
    }
    return "";
}

class FlowsSecretsE2E : public FlowsE2E {};

// Activation with a download, deactivation and check on both platforms,
// with a distinctive signing key (bootstrap and cloud) and APN password;
// on platform 0 the bootstrap reply spells the key's member name with an
// escape ("to\u006ben"), which a JSON parser reads as "token".
// Secret: those two, the deployment's seed constant, its salt template
// (alone and salted with the serial number) and the client key (PEM body
// lines; the DER in hex, 32-byte windows), and the bootstrap key derived
// from the salt. Activation codes are logged as designed.
TEST_F(FlowsSecretsE2E, NoFlowLogsASecret)
{
    const std::string keyPem = std::string(HBR_DEPLOYMENT_DATA_DIR) + "/client_key.pem";
    const std::string keyDer =
        hbrtest::RunProcess({"/usr/bin/openssl", "pkey", "-in", keyPem, "-outform", "DER"}).out;
    ASSERT_GT(keyDer.size(), 100u);
    const std::string seed = ConfValue("RAND_SEED"), salt = ConfValue("SALT_TEMPLATE");
    ASSERT_EQ(6u, seed.size());
    ASSERT_EQ(10u, salt.size());

    for (const char *platform : {"0", "1"}) {
        SCOPED_TRACE(platform);
        Scenario s;
        s.platform = platform;
        s.token = kToken;
        s.apnPassword = kPassword;
        const bool spelled = std::string(platform) == "0";
        if (spelled) {
            s.bootstrapEntries = R"([{"function": "v2", "call": "always", "spell": {"token": "to\\u006ben"}}])";
        }
        Start(s);
        Run("ACTIVE", "AT+GTPCTPOC=1,1\r\n");
        EXPECT_EQ(std::string(kNew) + "F:1:enabled", Euicc("profiles"));
        Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
        ASSERT_EQ("OK", worldPtr_->Control("notify CHECK"));
        ASSERT_TRUE(agentPtr_->WaitForLog("[IOTServiceCheckFunc] SetIOTServiceActiveResultSubKey IOTServiceCheck"));
        Stop();

        // The secrets were used: the module got the password, the cloud
        // verified signatures made with the key.
        int apnCommands = 0;
        for (const std::string &c : Commands()) apnCommands += c.find(kPassword) != std::string::npos;
        EXPECT_EQ(2, apnCommands);
        auto cloud = CloudRecords();
        ASSERT_GE(cloud.size(), 4u);
        for (const auto &line : cloud) EXPECT_NE(std::string::npos, line.find("\"signatureValid\": true")) << line;
        EXPECT_GE(Logs("service token is Sign***"), 1); // the lines that would show them, masked
        EXPECT_GE(Logs("apn_info->password: ApnP***"), 1);
        if (spelled) {
            EXPECT_GE(Logs(R"("to\u006ben": "Sign***")"), 1); // the reply as it came, masked
        }

        const std::string head = hbrtest::ReadFile(worldPtr_->Env("HBR_RECORDS_BOOTSTRAP") + "/req-1.head");
        const size_t sn = head.find("?sn=");
        ASSERT_NE(std::string::npos, sn) << head;
        std::string salted = salt;
        salted.replace(salted.find("%s"), 2, head.substr(sn + 4, head.find('&', sn) - sn - 4));

        // The bootstrap key (from the salt and the serial number) is what the
        // bootstrap server takes to hand out the signing key.
        const size_t key = head.find("&bootstrapKey=");
        ASSERT_NE(std::string::npos, key) << head;
        const std::string bootstrapKey = head.substr(key + 14, head.find('&', key + 1) - key - 14);
        ASSERT_EQ(16u, bootstrapKey.size()) << head;

        std::vector<std::string> secrets = {kToken, kPassword, seed, salt, salted, bootstrapKey};
        for (const std::string &line : hbr_test::ReadLines(keyPem)) {
            if (line.size() == 64) secrets.push_back(line);
        }
        std::vector<std::string> forms;
        for (const std::string &secret : secrets) {
            for (const std::string &form : Forms(secret)) forms.push_back(form);
        }
        for (size_t at = 0; at + 32 <= keyDer.size(); at += 32) {
            forms.push_back(Hex(keyDer.substr(at, 32), "0123456789abcdef"));
            forms.push_back(Hex(keyDer.substr(at, 32), "0123456789ABCDEF"));
        }
        for (const char *name : {"HbrAgentService.log", "lpa.log", "agent.stderr", "agent.stdout"}) {
            const std::string text = hbrtest::ReadFile(agentPtr_->Folder() + "/" + name);
            if (std::string(name) != "agent.stdout") {
                EXPECT_FALSE(text.empty()) << name;
            }
            for (const std::string &form : forms) {
                const size_t at = text.find(form);
                EXPECT_EQ(std::string::npos, at)
                    << name << " holds " << form << " in: "
                    << text.substr(text.rfind('\n', at) + 1, text.find('\n', at) - text.rfind('\n', at) - 1);
            }
        }
    }
}

} // namespace
