// The download tests' fixture: the engine over the simulated module, a
// local test SM-DP+ (and SM-DS) over HTTPS, and recorders for the
// progress texts and execution-error events.
#ifndef HBR_FLOWS_TEST_UTIL_H
#define HBR_FLOWS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <curl/curl.h>
#include <sys/stat.h>

#include "api_test_util.h"
#include "curl_environment.h"
#include "https_test_server.h"
#include "lpa_host.h"
#include "lpa_manager_config.h"
#include "rsp_test_util.h"

namespace hbr_test {

// A DeviceInfo TLV: TAC and empty capabilities.
constexpr char kDeviceInfoHex[] = "A108800435290611A100";

struct Phase {
    int phase;
    std::string text;
    bool operator==(const Phase &o) const { return phase == o.phase && text == o.text; }
};
inline std::ostream &operator<<(std::ostream &os, const Phase &p) { return os << p.phase << " \"" << p.text << "\""; }

// What the callbacks saw.
struct CallbackLog {
    std::vector<Phase> phases;
    std::vector<RecordedEvent> events;
    int consentCalls = 0;
    int codeCalls = 0;
    LpaUserConsentQuery consentIn{};
    // Consent answer.
    bool consentReturn = true;
    uint8_t consentGranted = 1;
    int32_t consentReason = 127;
    // Confirmation-code answer.
    bool codeReturn = true;
    std::string code;
    int32_t codeReason = 1;
    LpaConfirmationCodeQuery codeIn{};
};

inline void RecordProgress(void *userData, int phase, const char *text)
{
    static_cast<CallbackLog *>(userData)->phases.push_back(Phase{phase, text ? text : ""});
}
inline void RecordEvent(void *userData, const LpaEventExecutionError *event)
{
    RecordEventInto(&static_cast<CallbackLog *>(userData)->events, event);
}
inline bool AnswerConsent(void *userData, LpaUserConsentQuery *query)
{
    auto *log = static_cast<CallbackLog *>(userData);
    ++log->consentCalls;
    log->consentIn = *query;
    query->consentGranted = log->consentGranted;
    query->cancelReason = log->consentReason;
    return log->consentReturn;
}
inline bool AnswerCode(void *userData, LpaConfirmationCodeQuery *query)
{
    auto *log = static_cast<CallbackLog *>(userData);
    ++log->codeCalls;
    log->codeIn = *query;
    // Up to the whole field, without a NUL when the text fills it.
    std::memcpy(query->confirmationCode, log->code.data(),
                std::min(log->code.size(), sizeof(query->confirmationCode)));
    query->cancelReason = log->codeReason;
    return log->codeReturn;
}

inline LpaDownloadCallbacks AllCallbacks(CallbackLog *log, bool consent = true, bool code = true)
{
    LpaDownloadCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof(callbacks));
    callbacks.userData = log;
    callbacks.progress = RecordProgress;
    callbacks.executionError = RecordEvent;
    callbacks.confirmationCode = code ? AnswerCode : nullptr;
    callbacks.userConsent = consent ? AnswerConsent : nullptr;
    return callbacks;
}


// The engine initialised with a DeviceInfo and the test CA, a simulated
// eUICC without profiles, and servers started by the test.
class DownloadFixture : public ApiFixture {
protected:
    void SetUp() override
    {
        ApiFixture::SetUp();
        ASSERT_TRUE(HttpsTestServer::EnsurePki());
        ASSERT_TRUE(lpaSetConfigParameter("deviceInfoTlv", LPA_PARAMETER_TYPE_STRING, kDeviceInfoHex));
        ASSERT_TRUE(lpaManagerSetCertPath(HttpsTestServer::PkiFile("ca.crt").c_str()));
        Sim().state().profiles.clear();
        Sim().state().notifications.clear();
        Sim().records().clear();
        MarkLog();
    }
    void TearDown() override
    {
        smdp_.Stop();
        smds_.Stop();
        bool on = true;
        _lpaManagerSetBooleanParameterValue(_lpaManagerFindConfigParameter("sendPIRDuringDownloadProfile"), &on);
        ApiFixture::TearDown();
    }
    // Starts a test server in a role with a scenario (JSON object or list),
    // each start in its own record folder.
    void StartRole(HttpsTestServer &server, const char *role, const std::string &script, const std::string &address)
    {
        HttpsServerOptions options;
        options.role = role;
        options.script = script;
        options.address = address;
        if (address.find("{hostpad}") != std::string::npos) {
            options.certificate = "longname";  // holds the padded host names
        }
        std::string dir = dir_ + "/" + role + std::to_string(++starts_);
        ::mkdir(dir.c_str(), 0700);
        ASSERT_TRUE(server.Start(dir, options));
    }
    void StartSmdp(const std::string &script = "{}", const std::string &address = "")
    {
        StartRole(smdp_, "smdp", script, address);
        address_ = "localhost:" + std::to_string(smdp_.port());
    }
    void StartSmds(const std::string &script, const std::string &address = "")
    {
        StartRole(smds_, "smds", script, address);
    }
    std::string Code(const std::string &matchingId = "HBR-TEST-1") const { return "1$" + address_ + "$" + matchingId; }
    // The request paths the SM-DP+ received, in order (the function names).
    std::vector<std::string> Functions(const HttpsTestServer &server) const
    {
        std::vector<std::string> out;
        for (int i = 1; i <= server.RecordedCount(); ++i) {
            std::string head = server.RecordedHead(i);
            size_t end = head.find(' ', 5);
            std::string path = head.substr(5, end - 5);
            out.push_back(path.substr(path.rfind('/') + 1));
        }
        return out;
    }
    std::vector<std::string> Functions() const { return Functions(smdp_); }
    // The ES10 requests with this outer tag, in order.
    std::vector<Bytes> Es10Requests(uint32_t tag) const
    {
        std::vector<Bytes> out;
        for (const auto &r : Sim().records().es10) {
            if (r.tag == tag) out.push_back(Bytes(r.request.begin(), r.request.end()));
        }
        return out;
    }
    // The reason byte of each CancelSession (BF41) the eUICC received.
    std::vector<int> CancelReasons() const
    {
        std::vector<int> out;
        for (const Bytes &request : Es10Requests(0xBF41)) {
            Bytes value = FindTlv(request, 0xBF41);
            Bytes reason = FindTlv(value, 0x81);
            out.push_back(reason.size() == 1 ? reason[0] : -1);
        }
        return out;
    }
    static std::vector<std::string> Texts(const std::vector<Phase> &phases)
    {
        std::vector<std::string> out;
        for (const auto &p : phases) out.push_back(p.text);
        return out;
    }
    bool HasPhase(const CallbackLog &log, int phase, const std::string &text) const
    {
        for (const auto &p : log.phases) {
            if (p.phase == phase && p.text == text) return true;
        }
        return false;
    }
    bool LogHas(const std::string &level, const std::string &message) const
    {
        return CountEntries(Log(), LogEntry{level, message}) > 0;
    }
    const hbrsim::Profile *Installed(const std::string &iccidDigits) const
    {
        return Sim().euicc.isdr.findByIccid(hbrsim::iccidFromDigits(iccidDigits));
    }
    void SetSendPir(bool on)
    {
        ASSERT_TRUE(_lpaManagerSetBooleanParameterValue(_lpaManagerFindConfigParameter("sendPIRDuringDownloadProfile"), &on));
    }

    HttpsTestServer smdp_;
    HttpsTestServer smds_;
    std::string address_;
    int starts_ = 0;
    CallbackLog log_;
    LpaOperationResult result_{};
};

}  // namespace hbr_test

#endif  // HBR_FLOWS_TEST_UTIL_H
