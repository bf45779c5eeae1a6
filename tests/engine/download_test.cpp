// Profile downloads end to end: export, frame, flows, ES10b over AT+CSIM to
// the simulated eUICC, ES9+ as JSON over HTTPS to the local test SM-DP+.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "flows_test_util.h"
#include "lpa_download.h"

#include <algorithm>
#include <cctype>

namespace hbr_test {
namespace {

const bool curlRegistered = RegisterCurlEnvironment();

const char kIccidDigits[] = "8944476500001234567F";

const std::vector<Phase> kHappyPhases = {
    {0, "Activation code decoded"},
    {1, "Initiate authentication done"},
    {1, "SM-DP+ address checking done"},
    {2, "Authenticate server done"},
    {3, "Authenticate client done"},
    {3, "PPR conditions check done"},
    {5, "Get Bound Profile Package done"},
    {6, "Load Bound Profile Package done - Profile download successful"},
    {7, "Send PIR notification to server done"},
    {8, "Clear PIR notification done"},
};

using DownloadTest = DownloadFixture;
using hbrsim::FaultRule;

TEST_F(DownloadTest, ActivationCodeInstallsDeliversAndRemovesThePir)
{
    StartSmdp();
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    uint32_t before = LiveBlocks();
    uint32_t bytesBefore = lpaCoreMemoryTestCounters().liveBytes;
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_EQ(lpaCoreMemoryTestCounters().liveBytes, bytesBefore);
    EXPECT_EQ(lpaGetErrorCode(), 0u) << LogText();
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(result_.second, 1u);
    EXPECT_EQ(log_.phases, kHappyPhases);
    EXPECT_EQ(Functions(), (std::vector<std::string>{"initiateAuthentication", "authenticateClient",
                                                     "getBoundProfilePackage", "handleNotification"}));
    // Installed from the metadata, disabled.
    const hbrsim::Profile *profile = Installed(kIccidDigits);
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->profileName, "Test Profile 1");
    EXPECT_EQ(profile->serviceProviderName, "Hollowbright Test");
    EXPECT_EQ(profile->state, 0);
    // The PIR reached the server with success and left the eUICC.
    EXPECT_NE(smdp_.RecordedNotifications().find("\"result\": \"success\""), std::string::npos)
        << smdp_.RecordedNotifications();
    EXPECT_TRUE(Sim().state().notifications.empty());
    std::vector<Bytes> removals = Es10Requests(0xBF30);
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_TRUE(CancelReasons().empty());
    // The profile list shows it.
    std::vector<LpaProfileInfo> records(4);
    LpaProfileInfoList list{0, 0, records.size(), records.data()};
    ASSERT_TRUE(lpaGetProfilesInfo(&list));
    ASSERT_EQ(list.countProfileInfo, 1u);
    EXPECT_EQ(std::string(records[0].profileName, records[0].profileNameLength), "Test Profile 1");
}


// A JSON scenario with one profile (fields given as JSON members).
std::string Scenario(const std::string &profile, const std::string &entries = "[]")
{
    return "{\"profiles\": [{" + profile + "}], \"entries\": " + entries + "}";
}

std::string PemBody(const std::string &path)
{
    std::string pem = ReadFile(path);
    std::string body;
    size_t start = pem.find('\n', pem.find("-----BEGIN")) + 1;
    size_t end = pem.find("-----END");
    for (size_t i = start; i < end; ++i) {
        if (pem[i] != '\n' && pem[i] != '\r') body += pem[i];
    }
    return body;
}

// A RAT with one rule for PPR1: every MCC/MNC, no GIDs, the given pprFlags value.
Bytes RatWithRule(const Bytes &flags)
{
    Bytes op = Tlv(0x30, Tlv(0x80, HexToBytes("EEEEEE")));
    Bytes rule = Tlv(0x30, Cat({Tlv(0x80, HexToBytes("0640")), Tlv(0xA1, op), Tlv(0x82, flags)}));
    return Tlv(0xBF43, Tlv(0xA0, rule));
}

TEST_F(DownloadTest, RefusedCodesNeverReachTheServer)
{
    StartSmdp();
    // Not starting with 1$.
    EXPECT_FALSE(lpaDownloadProfile(("2$" + address_ + "$HBR-TEST-1").c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x230Au);
    EXPECT_TRUE(LogHas("ERR", "Invalid activation code!"));
    // The confirmation-code flag through the plain entry point.
    MarkLog();
    EXPECT_FALSE(lpaDownloadProfile((Code() + "$$1").c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2301u);
    EXPECT_EQ(CountEntries(LogSinceMark(), LogEntry{"DEB", "Confirmation Code required flag found, status is \"Required.\""}), 1u);
    // An empty confirmation code, a NULL result.
    EXPECT_FALSE(lpaDownloadProfileWithConfirmationCode(Code().c_str(), "", nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2301u);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), nullptr, nullptr));
    EXPECT_EQ(lpaGetErrorCode(), 0x2301u);
    EXPECT_EQ(smdp_.RecordedCount(), 0);
    EXPECT_TRUE(Sim().records().es10.empty());
}

struct ServerFailure {
    const char *name;
    std::string entries;   // answer script of the SM-DP+
    std::string codeSuffix; // appended to the activation code
    uint32_t code;
    int eventSource;        // 0: no event expected
};

void PrintTo(const ServerFailure &c, std::ostream *os)
{
    *os << c.name;
}

class ServerFailureTest : public DownloadFixture, public ::testing::WithParamInterface<ServerFailure> {};

TEST_P(ServerFailureTest, FailsWithTheCodeAndNoCancel)
{
    const ServerFailure &c = GetParam();
    std::string entries = c.entries;
    StartSmdp("{\"entries\": [" + entries + "]}");
    if (entries.find("@CERT@") != std::string::npos) {
        smdp_.Stop();
        entries.replace(entries.find("@CERT@"), 6, PemBody(HttpsTestServer::PkiFile("server.crt")));
        StartSmdp("{\"entries\": [" + entries + "]}");
    }
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfile((Code() + c.codeSuffix).c_str(), &callbacks, &result_));
    EXPECT_EQ(lpaGetErrorCode(), c.code) << c.name;
    EXPECT_TRUE(CancelReasons().empty());
    EXPECT_EQ(smdp_.RecordedNotifications().find("cancel"), std::string::npos);
    if (c.eventSource != 0) {
        ASSERT_FALSE(log_.events.empty()) << c.name;
        EXPECT_EQ(log_.events[0].source, c.eventSource);
        if (c.eventSource == 1) {
            EXPECT_EQ(log_.events[0].presentFields, 3);
            EXPECT_EQ(log_.events[0].subjectCode, "8.1");
            EXPECT_EQ(log_.events[0].reasonCode, "3.8");
        }
    }
    EXPECT_TRUE(Sim().state().profiles.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerFailureTest,
    ::testing::Values(
        ServerFailure{"404", R"({"function": "initiateAuthentication", "call": 1, "status": 404})", "", 0x2323, 2},
        ServerFailure{"failed", R"({"function": "initiateAuthentication", "call": 1, "execStatus": "Failed", "subjectCode": "8.1", "reasonCode": "3.8"})",
                      "", 0x2305, 1},
        ServerFailure{"txid40", R"({"function": "initiateAuthentication", "call": 1, "set": {"transactionId": "0123456789012345678901234567890123456789"}})",
                      "", 0x230C, 0},
        ServerFailure{"oidMismatch", "", "$2.999.10.2", 0x2330, 0},
        ServerFailure{"noOid", R"({"function": "initiateAuthentication", "call": 1, "set": {"serverCertificate": "@CERT@"}})",
                      "$2.999.10.1", 0x2329, 0}),
    [](const ::testing::TestParamInfo<ServerFailure> &info) { return std::string(info.param.name); });

TEST_F(DownloadTest, AddressCheckIsCaseSensitiveAndTheOidMatches)
{
    // The code names the server in upper case: the host is reached, the check refuses it.
    StartSmdp();
    std::string upper = "1$LOCALHOST:" + std::to_string(smdp_.port()) + "$HBR-TEST-1";
    EXPECT_FALSE(lpaDownloadProfile(upper.c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2304u);
    EXPECT_TRUE(LogHas("DEB", " ServerAdress item found  => extract string from rawdata"));
    smdp_.Stop();
    // The certificate's OID matches the code's.
    StartSmdp();
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_TRUE(lpaDownloadProfile((Code() + "$2.999.10.1").c_str(), &callbacks, &result_));
    EXPECT_TRUE(HasPhase(log_, 1, "OID comparison done"));
}

TEST_F(DownloadTest, TransactionIdOf39CharactersIsAccepted)
{
    StartSmdp(R"({"entries": [{"function": "initiateAuthentication", "call": 1, "set": {"transactionId": "012345678901234567890123456789012345678"}}]})");
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    EXPECT_TRUE(LogHas("DEB", "LPA Download : TransactionId : <012345678901234567890123456789012345678>"));
    EXPECT_NE(lpaGetErrorCode(), 0x230Cu);
}

TEST_F(DownloadTest, PolicyRefusalsCancelTheSession)
{
    struct Case {
        const char *name;
        std::string profile;
        Bytes rat;
        bool operationalInstalled;
        uint32_t code;
        int reason;
        std::string phase;
    } cases[] = {
        {"PPR1 with an operational profile", "\"ppr\": \"0640\"", HexToBytes("BF4302A000"), true, 0x232E, 3,
         "Profile download not allowed (has PPR1 set whereas at least one Operational profile is already loaded on eUICC)"},
        {"empty rules", "\"ppr\": \"0640\"", HexToBytes("BF4302A000"), false, 0x232E, 3, "Profile download not allowed by RAT"},
        {"pprFlags 07 00", "\"ppr\": \"0640\"", RatWithRule(HexToBytes("0700")), false, 0x232D, 3,
         "Profile download not allowed by RAT"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        hbrsim::seam::reset();
        if (c.operationalInstalled) {
            hbrsim::seam::reset(StandardSeed());
        }
        Sim().state().rat = hbrsim::Bytes(c.rat.begin(), c.rat.end());
        StartSmdp(Scenario(c.profile));
        log_ = CallbackLog();
        LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
        EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
        EXPECT_EQ(lpaGetErrorCode(), c.code);
        EXPECT_EQ(CancelReasons(), std::vector<int>{c.reason});
        EXPECT_NE(smdp_.RecordedNotifications().find("\"reason\": " + std::to_string(c.reason)), std::string::npos);
        EXPECT_TRUE(HasPhase(log_, 3, c.phase));
        EXPECT_TRUE(HasPhase(log_, 3, "Cancel Session done"));
        EXPECT_EQ(result_.second, 1u);
        EXPECT_EQ(Es10Requests(0xBF21).size(), 0u);
        smdp_.Stop();
    }
}

TEST_F(DownloadTest, MetadataWithoutProfileNameCancelsWithUndefinedReason)
{
    Bytes metadata = Tlv(0xBF25, Cat({Tlv(0x5A, HexToBytes("98444756000021436587")), Tlv(0x91, Bytes{'O', 'p'}),
                                      Tlv(0x95, Bytes{2})}));
    StartSmdp("{\"entries\": [{\"function\": \"authenticateClient\", \"call\": 1, \"set\": {\"profileMetadata\": \"" +
              Base64(metadata) + "\"}}]}");
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x232Cu);
    EXPECT_EQ(CancelReasons(), std::vector<int>{127});
    EXPECT_TRUE(HasPhase(log_, 3, "Failed to extract Metadata from incoming profile"));
    EXPECT_TRUE(LogHas("DEB", "_extractFieldsFromProfileMetadata(): Return False"));
}

TEST_F(DownloadTest, ConsentAnswersDecideTheCancelReason)
{
    struct Case {
        const char *name;
        bool withCallback;
        bool returns;
        uint8_t granted;
        int32_t reason;
        bool installs;
        std::vector<int> cancels;
    } cases[] = {
        {"refused with reason 0", true, true, 0, 0, false, {0}},
        {"callback false", true, false, 1, 127, false, {1}},
        {"granted", true, true, 1, 127, true, {}},
        {"no callback", false, true, 0, 0, true, {}},
        {"unknown reason", true, true, 0, 9, false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        hbrsim::seam::reset();
        Sim().state().rat = RatWithRule(HexToBytes("0780"));
        StartSmdp(Scenario("\"ppr\": \"0640\", \"profileName\": \"Consent me\""));
        log_ = CallbackLog();
        log_.consentReturn = c.returns;
        log_.consentGranted = c.granted;
        log_.consentReason = c.reason;
        LpaDownloadCallbacks callbacks = AllCallbacks(&log_, c.withCallback);
        EXPECT_EQ(lpaDownloadProfile(Code().c_str(), &callbacks, &result_), c.installs);
        EXPECT_EQ(CancelReasons(), c.cancels);
        if (c.withCallback) {
            ASSERT_EQ(log_.consentCalls, 1);
            EXPECT_EQ(log_.consentIn.consentReason, 1);
            EXPECT_STREQ(log_.consentIn.profileName, "Consent me");
            EXPECT_EQ(log_.consentIn.cancelReason, 127);
            EXPECT_EQ(log_.consentIn.consentGranted, 0);
        }
        if (!c.installs) {
            EXPECT_EQ(lpaGetErrorCode(), c.cancels.empty() ? 0x232Fu : 0x232Fu);
            EXPECT_TRUE(HasPhase(log_, 3, c.cancels.empty() ? "Cancel Session failed" : "Cancel Session done"));
        } else {
            EXPECT_EQ(lpaGetErrorCode(), 0u);
        }
        smdp_.Stop();
    }
}

TEST_F(DownloadTest, ConfirmationCodeIsHashedAndCheckedByTheServer)
{
    // Given directly; the code reaches neither the log nor stderr.
    const std::string secret = "CcThatMustNotAppear-5309";
    StartSmdp(Scenario("\"ccRequired\": true, \"confirmationCode\": \"" + secret + "\""));
    std::string errors = CaptureStderr([&] {
        EXPECT_TRUE(lpaDownloadProfileWithConfirmationCode((Code() + "$$1").c_str(), secret.c_str(), nullptr, &result_));
    });
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    ASSERT_EQ(Es10Requests(0xBF21).size(), 1u);
    lpaCoreLogFlush();
    EXPECT_EQ(LogText().find(secret), std::string::npos);
    EXPECT_EQ(errors.find(secret), std::string::npos);
    smdp_.Stop();
    // From the callback.
    hbrsim::seam::reset();
    StartSmdp(Scenario("\"ccRequired\": true, \"confirmationCode\": \"1234\""));
    log_.code = "1234";
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_EQ(log_.codeCalls, 1);
    EXPECT_EQ(log_.codeIn.capacity, 50u);
    EXPECT_EQ(log_.codeIn.cancelReason, 1);
    EXPECT_TRUE(HasPhase(log_, 4, "Confirmation Code required by server"));
    smdp_.Stop();
    // A callback that fills all 50 characters without a NUL: 49 are read.
    hbrsim::seam::reset();
    StartSmdp(Scenario("\"ccRequired\": true, \"confirmationCode\": \"" + std::string(49, 'C') + "\""));
    log_ = CallbackLog();
    log_.code = std::string(50, 'C');
    callbacks = AllCallbacks(&log_);
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_TRUE(LogHas("DEB", "Confirmation Code recovered from callback: " + std::string(49, 'C')));
    smdp_.Stop();
    // A wrong code: the server refuses the package.
    hbrsim::seam::reset();
    StartSmdp(Scenario("\"ccRequired\": true, \"confirmationCode\": \"1234\""));
    log_ = CallbackLog();
    callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfileWithConfirmationCode(Code().c_str(), "9999", &callbacks, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2311u);
    ASSERT_FALSE(log_.events.empty());
    EXPECT_EQ(log_.events.back().source, 1);
    EXPECT_TRUE(CancelReasons().empty());
}

TEST_F(DownloadTest, MissingConfirmationCodeCancelsWithPostponed)
{
    struct Case {
        const char *name;
        bool callback;
        bool returns;
        std::string code;
        int32_t reason;
        std::string phase;
    } cases[] = {
        {"no callback", false, true, "", 1, "Confirmation Code not provided. Canceling session..."},
        {"refused with reason 9", true, false, "", 9,
         "Failed to query Confirmation Code or operation canceled from application. Canceling session..."},
        {"empty code", true, true, "", 1, "Empty Confirmation Code returned. Canceling session..."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        hbrsim::seam::reset();
        StartSmdp(Scenario("\"ccRequired\": true"));
        log_ = CallbackLog();
        log_.codeReturn = c.returns;
        log_.code = c.code;
        log_.codeReason = c.reason;
        MarkLog();
        LpaDownloadCallbacks callbacks = AllCallbacks(&log_, true, c.callback);
        EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
        EXPECT_EQ(lpaGetErrorCode(), 0x2322u);
        EXPECT_EQ(CancelReasons(), std::vector<int>{1});
        EXPECT_TRUE(HasPhase(log_, 4, c.phase));
        EXPECT_TRUE(HasPhase(log_, 4, "Cancel Session done"));
        EXPECT_TRUE(Es10Requests(0xBF21).empty());
        if (c.reason == 9) {
            EXPECT_EQ(CountEntries(LogSinceMark(), LogEntry{"WAR", "cancelSession reasonCode unknown, \"Postponed\" (0x01) will be used instead!"}), 1u);
        }
        smdp_.Stop();
    }
}

TEST_F(DownloadTest, PackageErrorsCancelWithReasonFive)
{
    Bytes partial = Tlv(0xBF36, Cat({Tlv(0xBF23, Tlv(0x80, Bytes(16, 1))), Tlv(0xA0, Tlv(0x87, Bytes{1})),
                                     Tlv(0xA3, Tlv(0x86, Bytes{1}))}));
    for (const Bytes &package : {Tlv(0xA0, Bytes{0}), partial}) {
        hbrsim::seam::reset();
        StartSmdp("{\"entries\": [{\"function\": \"getBoundProfilePackage\", \"call\": 1, \"set\": "
                  "{\"boundProfilePackage\": \"" + Base64(package) + "\"}}]}");
        log_ = CallbackLog();
        LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
        EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
        EXPECT_EQ(lpaGetErrorCode(), 0x2331u);
        EXPECT_EQ(CancelReasons(), std::vector<int>{5});
        EXPECT_TRUE(HasPhase(log_, 6, "Failed to Load Bound Profile Package due to BPP error, canceling session"));
        EXPECT_TRUE(HasPhase(log_, 6, "Cancel Session done"));
        EXPECT_FALSE(HasPhase(log_, 7, "Failed to retrieve PIR notification from eUICC"));
        smdp_.Stop();
    }
}

TEST_F(DownloadTest, FailedInstallationsStillDeliverAndRemoveThePir)
{
    // errorResult at the end (no room for a profile), then an early PIR on the A1 segment.
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant);
        hbrsim::seam::reset();
        if (variant == 0) {
            Sim().euicc.isdr.download.knobs.maxProfiles = 0;
        } else {
            Sim().euicc.isdr.download.knobs.pirOnSegment = 3;
            Sim().euicc.isdr.download.knobs.pirOnSegmentSuccess = false;
        }
        StartSmdp();
        log_ = CallbackLog();
        LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
        EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
        EXPECT_EQ(lpaGetErrorCode(), variant == 0 ? 0x2317u : 0x2315u);
        EXPECT_EQ(result_.first, 0u);
        EXPECT_TRUE(HasPhase(log_, 6, "Failed to Load Bound Profile Package"));
        EXPECT_TRUE(HasPhase(log_, 7, "Send PIR notification to server done"));
        EXPECT_TRUE(HasPhase(log_, 8, "Clear PIR notification done"));
        EXPECT_NE(smdp_.RecordedNotifications().find("\"result\": \"error\""), std::string::npos);
        EXPECT_TRUE(Sim().state().notifications.empty());
        EXPECT_TRUE(CancelReasons().empty());
        smdp_.Stop();
    }
}

TEST_F(DownloadTest, PirNotAcceptedStaysForTheNextNotificationRun)
{
    StartSmdp(R"({"entries": [{"function": "handleNotification", "call": 1, "status": 200, "body": "{\"header\": {\"functionExecutionStatus\": {\"status\": \"Executed-Success\"}}}"}]})");
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x231Cu);
    EXPECT_EQ(result_.first, 1u);
    EXPECT_NE(Installed(kIccidDigits), nullptr);
    ASSERT_EQ(Sim().state().notifications.size(), 1u);
    LpaOperationResult sent{};
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &sent));
    EXPECT_EQ(sent.first, 1u);
    EXPECT_EQ(sent.second, 1u);
    EXPECT_TRUE(Sim().state().notifications.empty());
}

TEST_F(DownloadTest, RemovalOutcomesDoNotChangeTheResult)
{
    // Removal answered "nothing to delete".
    Sim().faults().add(FaultRule::es10(0xBF30).es10Answer(hbrsim::hexBytes("BF3003800101")));
    StartSmdp();
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2202u);
    smdp_.Stop();
    // A PIR seq that does not fit 16 bits: nothing removed.
    hbrsim::seam::reset();
    Sim().euicc.isdr.download.knobs.pirSeq = hbrsim::hexBytes("010005");
    StartSmdp();
    log_ = CallbackLog();
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_TRUE(Es10Requests(0xBF30).empty());
    EXPECT_TRUE(HasPhase(log_, 8, "Failed to get PIR notification sequence number"));
    EXPECT_TRUE(LogHas("ERR", "Failed to get the PIR notification sequence number"));
    smdp_.Stop();
    // PIR sending switched off: installed, not delivered, false without a code.
    hbrsim::seam::reset();
    SetSendPir(false);
    StartSmdp();
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(Functions().back(), "getBoundProfilePackage");
    EXPECT_EQ(Sim().state().notifications.size(), 1u);
}

TEST_F(DownloadTest, ChainingBreaksAreRetried)
{
    // Answers in pieces of 64 bytes, so that each goes through GET RESPONSE.
    const FaultRule pieces = FaultRule::apdu(0xE2).pieces(64).always();
    // Once in AuthenticateServer: a second whole session.
    Sim().faults().add(pieces);
    Sim().faults().add(FaultRule::apdu(0xC0).inChainOfTag(0xBF38).statusWord(0x6D00).once());
    StartSmdp();
    log_ = CallbackLog();
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(Es10Requests(0xBF38).size(), 2u);
    std::vector<std::string> functions = Functions();
    EXPECT_EQ(std::count(functions.begin(), functions.end(), std::string("initiateAuthentication")), 2);
    EXPECT_TRUE(HasPhase(log_, 0, "Restart another download attempt from SM-DP server..."));
    smdp_.Stop();
    // Every time: three executions, then the end.
    hbrsim::seam::reset();
    Sim().faults().add(pieces);
    Sim().faults().add(FaultRule::apdu(0xC0).inChainOfTag(0xBF38).statusWord(0x6D00).always());
    StartSmdp();
    log_ = CallbackLog();
    callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x801Eu);
    EXPECT_EQ(Es10Requests(0xBF38).size(), 3u);
    size_t restarts = 0;
    for (const Phase &p : log_.phases) restarts += p.text == "Restart another download attempt from SM-DP server..." ? 1 : 0;
    EXPECT_EQ(restarts, 2u);
    EXPECT_EQ(log_.phases.back(), (Phase{0, "Maximum download attempts reached, do not retry anymore"}));
    smdp_.Stop();
    // Once each in GetEuiccInfo1, the compact profile list and PrepareDownload.
    // Installed profiles make the compact list long enough for a chain.
    hbrsim::seam::reset(StandardSeed());
    Sim().faults().add(FaultRule::apdu(0xE2).pieces(32).always());
    for (uint32_t tag : {0xBF20u, 0xBF21u}) {
        Sim().faults().add(FaultRule::apdu(0xC0).inChainOfTag(tag).statusWord(0x6D00).once());
    }
    Sim().faults().add(FaultRule::apdu(0xC0).inChainOfTag(0xBF2D).statusWord(0x6D00).from(2).once());
    StartSmdp();
    MarkLog();
    EXPECT_TRUE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    for (const char *name : {"GetEuiccInfo1", "_getProfilesInfoForPPR", "prepareDownload"}) {
        EXPECT_EQ(CountEntries(LogSinceMark(), LogEntry{"WAR", std::string(name) + ": GetResponse chaining issue detected, try another time, nbExecGetResp = 2"}), 1u) << name;
    }
}

TEST_F(DownloadTest, ExecutionErrorCallbackEndsWithItsOperation)
{
    StartSmdp(R"({"entries": [{"function": "initiateAuthentication", "call": "always", "status": 404}]})");
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    size_t seen = log_.events.size();
    EXPECT_GT(seen, 0u);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2323u);
    EXPECT_EQ(log_.events.size(), seen);
}

// Lines between the frame's lines, with random values (hex, Base64) blanked.
std::vector<std::string> Normalized(const std::vector<LogEntry> &log)
{
    std::vector<std::string> out;
    bool started = false;
    for (const LogEntry &e : log) {
        started = started || e.message == "[LPASDKAPI] <lpaDownloadProfile> started";
        if (!started || e.message.find("[LPASDKMEM]") != std::string::npos) {
            continue;
        }
        std::string m = e.message;
        size_t dump = m.find("] :  ");
        if (dump != std::string::npos) {
            m = m.substr(0, dump);  // hex dump rows
        }
        std::string n;
        size_t i = 0;
        while (i < m.size()) {
            size_t j = i;
            while (j < m.size() && (isalnum(static_cast<unsigned char>(m[j])) || m[j] == '+' || m[j] == '/' || m[j] == '=')) ++j;
            if (j - i >= 16) {
                n += "#";
                i = j;
            } else if (j > i) {
                n += m.substr(i, j - i);
                i = j;
            } else {
                n += m[i++];
            }
        }
        if (n.find("0x") == std::string::npos && n.find("Content-Length") == std::string::npos) {
            out.push_back(e.level + " " + n);
        }
    }
    return out;
}

TEST_F(DownloadTest, AgentSequenceInstallsLikeTheExport)
{
    StartSmdp();
    MarkLog();
    ASSERT_TRUE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    std::vector<std::string> exported = Normalized(LogSinceMark());
    // Again through the agent's steps, on a fresh eUICC.
    hbrsim::seam::reset();
    Sim().records().clear();
    MarkLog();
    LpaDownloadCallbacks none;
    std::memset(&none, 0, sizeof(none));
    LpaOperationResult result{};
    lpaApiFrameBegin("lpaDownloadProfile");
    bool ok = false;
    if (_lpaManagerConnectReaderAndSelectISDR()) {
        ok = lpaManagerDownloadProfile(Code().c_str(), &none, &result);
    }
    ok = _lpaManagerUnselectISDRAndDisconnectReader() && ok;
    EXPECT_TRUE(lpaApiFrameEnd(ok));
    EXPECT_EQ(result.first, 1u);
    EXPECT_NE(Installed(kIccidDigits), nullptr);
    std::vector<std::string> agent = Normalized(LogSinceMark());
    for (size_t i = 0; i < std::min(agent.size(), exported.size()); ++i) {
        ASSERT_EQ(agent[i], exported[i]) << "line " << i;
    }
    EXPECT_EQ(agent.size(), exported.size());
}

}  // namespace
}  // namespace hbr_test

namespace hbr_test {
namespace {

class AddressDownloadTest : public DownloadFixture {
protected:
    std::string SmdsAddress() const { return "localhost:" + std::to_string(smds_.port()); }
    // An SM-DS scenario with the given event entries (JSON list text).
    void StartSmdsWith(const std::string &events, const std::string &entries = "[]")
    {
        StartSmds("{\"eventEntries\": " + events + ", \"entries\": " + entries + "}");
        Sim().state().rootDsAddress = SmdsAddress();
    }
    std::string Event(const std::string &id) const
    {
        return "{\"eventId\": \"" + id + "\", \"rspServerAddress\": \"" + address_ + "\"}";
    }
    size_t CountPhase(int phase, const std::string &text) const
    {
        size_t n = 0;
        for (const Phase &p : log_.phases) n += (p.phase == phase && p.text == text) ? 1 : 0;
        return n;
    }
};

TEST_F(AddressDownloadTest, DefaultSmdpAddressDownloadsWithAnEmptyMatchingId)
{
    StartSmdp(Scenario("\"ccRequired\": true, \"ppr\": \"0640\""));
    // No default address on the eUICC.
    Sim().state().defaultDpAddress.reset();
    EXPECT_FALSE(lpaDownloadProfileWithDefaultSMDPAddress(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2011u);
    // With it: no RAT, no hashCc although the server wants a code.
    Sim().state().defaultDpAddress = address_;
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfileWithDefaultSMDPAddress(&callbacks, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2311u);
    EXPECT_EQ(result_.second, 1u);
    EXPECT_TRUE(Es10Requests(0xBF43).empty());
    ASSERT_EQ(Es10Requests(0xBF21).size(), 1u);
    EXPECT_TRUE(FindTlv(FindTlv(Es10Requests(0xBF21)[0], 0xBF21), 0x04).empty());
    EXPECT_EQ(log_.codeCalls, 0);
    EXPECT_EQ(CountPhase(9, "Problem occurred during download"), 0u);
    smdp_.Stop();
    // A plain profile installs.
    hbrsim::seam::reset();
    StartSmdp();
    Sim().state().defaultDpAddress = address_;
    log_ = CallbackLog();
    callbacks = AllCallbacks(&log_);
    uint32_t before = LiveBlocks();
    EXPECT_TRUE(lpaDownloadProfileWithDefaultSMDPAddress(&callbacks, &result_));
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(result_.second, 1u);
    EXPECT_EQ(log_.phases.front(), (Phase{0, "Get default SM-DP + Address done"}));
    EXPECT_EQ(log_.phases.back(), (Phase{8, "Clear PIR notification done"}));
    ASSERT_EQ(Es10Requests(0xBF38).size(), 1u);
    EXPECT_NE(BytesToHex(Es10Requests(0xBF38)[0]).find("8000A108"), std::string::npos);
    EXPECT_NE(Installed(kIccidDigits), nullptr);
    EXPECT_TRUE(LogHas("DEB", "Success to get default SM-DP + address: " + address_));
    EXPECT_TRUE(LogHas("DEB", "Clear the PIR notification OK"));
    smdp_.Stop();
    // PIR sending off: still true.
    hbrsim::seam::reset();
    SetSendPir(false);
    StartSmdp();
    Sim().state().defaultDpAddress = address_;
    EXPECT_TRUE(lpaDownloadProfileWithDefaultSMDPAddress(nullptr, &result_));
    EXPECT_EQ(result_.first, 1u);
}

TEST_F(AddressDownloadTest, SmdsEventsDownloadOneProfileEach)
{
    StartSmdp("{\"profiles\": [{\"matchingId\": \"EVT-1\"}, {\"matchingId\": \"EVT-2\", \"iccid\": \"8944476500007654321\"}]}");
    StartSmdsWith("[" + Event("EVT-1") + ", " + Event("EVT-2") + "]");
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    uint32_t before = LiveBlocks();
    EXPECT_TRUE(lpaDownloadProfileWithSMDSAddress(&callbacks, &result_));
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(result_.first, 2u);
    EXPECT_EQ(result_.second, 2u);
    EXPECT_EQ(Sim().state().profiles.size(), 2u);
    EXPECT_TRUE(HasPhase(log_, 0, "Event(s) retrieval done. SM-DS reported 2 profile(s) to download"));
    EXPECT_TRUE(HasPhase(log_, 1, "====== Start to process Event record #2 ======"));
    EXPECT_EQ(log_.phases.back(), (Phase{2, "All Events (Profiles) defined by SM-DS were successfully loaded in eUICC"}));
    // The eventIds went out as MatchingIDs.
    std::vector<Bytes> auth = Es10Requests(0xBF38);
    ASSERT_EQ(auth.size(), 3u);
    EXPECT_NE(BytesToHex(auth[1]).find(BytesToHex(Tlv(0x80, Bytes{'E', 'V', 'T', '-', '1'}))), std::string::npos);
    EXPECT_NE(BytesToHex(auth[0]).find("8000A108"), std::string::npos);
}

TEST_F(AddressDownloadTest, SmdsOutcomes)
{
    StartSmdp();
    // No event.
    StartSmdsWith("[]");
    EXPECT_TRUE(lpaDownloadProfileWithSMDSAddress(nullptr, &result_));
    EXPECT_EQ(result_.first, 0u);
    EXPECT_EQ(result_.second, 0u);
    EXPECT_TRUE(LogHas("DEB", "=== No pending event record!"));
    smds_.Stop();
    // Two events, the second unknown to the SM-DP+.
    StartSmdsWith("[" + Event("HBR-TEST-1") + ", " + Event("UNKNOWN") + "]");
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_TRUE(lpaDownloadProfileWithSMDSAddress(&callbacks, &result_));
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(result_.second, 2u);
    EXPECT_EQ(lpaGetErrorCode(), 0x2307u);
    EXPECT_EQ(CountPhase(9, "Problem occurred during download"), 1u);
    EXPECT_EQ(log_.phases.back(), (Phase{2, "Some issues occurred during Events (Profiles) loading in eUICC"}));
    smds_.Stop();
    // 17 events with empty eventIds: 16 kept, each refused without an exchange.
    std::string events = "[";
    for (int i = 0; i < 17; ++i) events += std::string(i ? ", " : "") + Event("");
    StartSmdsWith(events + "]");
    EXPECT_TRUE(lpaDownloadProfileWithSMDSAddress(nullptr, &result_));
    EXPECT_EQ(result_.second, 16u);
    EXPECT_EQ(result_.first, 0u);
    EXPECT_EQ(lpaGetErrorCode(), 0x2001u);
    smds_.Stop();
    // The SM-DS names another address.
    StartSmdsWith("[]", R"([{"function": "initiateAuthentication", "call": 1, "serverAddress": "elsewhere"}])");
    EXPECT_FALSE(lpaDownloadProfileWithSMDSAddress(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2304u);
}

TEST_F(AddressDownloadTest, SmdsAuthenticationRetriesAfterABrokenChain)
{
    StartSmdp();
    StartSmdsWith("[" + Event("HBR-TEST-1") + "]");
    Sim().faults().add(FaultRule::apdu(0xE2).pieces(64).always());
    Sim().faults().add(FaultRule::apdu(0xC0).inChainOfTag(0xBF38).statusWord(0x6D00).once());
    MarkLog();
    EXPECT_TRUE(lpaDownloadProfileWithSMDSAddress(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(CountEntries(LogSinceMark(), LogEntry{"WAR", "AuthenticateServer for Events retrieval: GetResponse chaining "
                                                           "issue detected, try another time, nbExecGetRespAuthServDS = 2"}),
              1u);
    EXPECT_EQ(Es10Requests(0xBF38).size(), 3u);
}

// Only a host with an optional port is ever joined with a request path:
// anything else fails before a connection, whatever its source.
TEST_F(AddressDownloadTest, AddressesThatAreNotAHostAndPortReachNoServer)
{
    StartSmdp();
    StartSmdsWith("[]");
    const std::string port = std::to_string(smdp_.port());
    const std::vector<std::string> bad = {
        "localhost:" + port + "/evil?x=1#",
        "localhost:" + port + "?x=1",
        "localhost:" + port + "#x",
        "user@localhost:" + port,
        "localhost%2f:" + port,
        "local host:" + port,
        "localhost:" + port + "\t",
        "localhost:" + port + "\x01",
        ":" + port,
        "localhost:0",
        "localhost:65536",
        "localhost:",
        "localhost:8a",
        "[::1:" + port,
        "[::g]:" + port,
        "[127.0.0.1]:" + port,
    };
    for (const std::string &address : bad) {
        EXPECT_FALSE(lpaDownloadProfile(("1$" + address + "$HBR-TEST-1").c_str(), nullptr, &result_)) << address;
        EXPECT_EQ(lpaGetErrorCode(), 0x2304u) << address;
    }
    EXPECT_TRUE(LogHas("WAR", "Server address refused: not a host name with an optional port"));

    Sim().state().defaultDpAddress = bad[0];
    EXPECT_FALSE(lpaDownloadProfileWithDefaultSMDPAddress(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2304u);
    Sim().state().rootDsAddress = "localhost:" + std::to_string(smds_.port()) + "/x";
    EXPECT_FALSE(lpaDownloadProfileWithSMDSAddress(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0x2304u);
    EXPECT_EQ(smds_.RecordedCount(), 0);
    smds_.Stop();
    // An event naming a bad SM-DP+ address.
    StartSmdsWith(R"([{"eventId": "E1", "rspServerAddress": ")" + bad[0] + R"("}])");
    lpaDownloadProfileWithSMDSAddress(nullptr, &result_);
    EXPECT_EQ(lpaGetErrorCode(), 0x2304u);
    EXPECT_GT(smds_.RecordedCount(), 0);
    EXPECT_EQ(smdp_.RecordedCount(), 0);
}

TEST_F(AddressDownloadTest, RootSmdsAddressOf128BytesIsUsedAsText)
{
    // 128 bytes: a host of long labels under localhost, and the port.
    StartSmdp();
    StartSmds("{\"eventEntries\": [" + Event("HBR-TEST-1") + "]}", "{hostpad}.localhost:{port}");
    std::string address = LongLocalhostAddress(128, smds_.port());
    ASSERT_EQ(address.size(), 128u);
    Sim().state().rootDsAddress = address;
    EXPECT_TRUE(lpaDownloadProfileWithSMDSAddress(nullptr, &result_));
    EXPECT_EQ(lpaGetErrorCode(), 0u) << LogText().substr(0, 0);
    EXPECT_EQ(result_.first, 1u);
}

}  // namespace
}  // namespace hbr_test

namespace hbr_test {
namespace {

using RobustnessTest = DownloadFixture;

TEST_F(RobustnessTest, FailedAllocationsFailTheirStepWithoutLeaks)
{
    // ctxParams1 (A0 of 166 bytes with a MatchingID of 150 characters).
    std::string matchingId(150, 'M');
    StartSmdp("{\"profiles\": [{\"matchingId\": \"" + matchingId + "\"}]}");
    uint32_t before = LiveBlocks();
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, 166);
    EXPECT_FALSE(lpaDownloadProfile(Code(matchingId).c_str(), nullptr, &result_));
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, 0);
    EXPECT_EQ(lpaGetErrorCode(), 0x230Bu);
    EXPECT_TRUE(LogHas("ERR", "Failed to allocate ptrCtxParam."));
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_TRUE(Es10Requests(0xBF38).empty());
    smdp_.Stop();

    // The package buffer (the largest block of the download).
    hbrsim::seam::reset();
    StartSmdp("{\"profiles\": [{\"elementCount\": 4, \"elementSize\": 1000}]}");
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GE, 4000);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), nullptr, &result_));
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_GE, 0);
    EXPECT_NE(lpaGetErrorCode(), 0u);
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_TRUE(Sim().state().profiles.empty());
    EXPECT_TRUE(Es10Requests(0xBF36).empty());

    // The Base64 text of a notification: not delivered, kept.
    hbrsim::seam::reset();
    hbrsim::Notification n;
    n.seq = 4;
    n.event = hbrsim::NotificationEvent::Disable;
    n.address = address_;
    Sim().state().notifications.push_back(n);
    size_t length = Sim().euicc.isdr.pendingNotification(n).size();
    int32_t size = static_cast<int32_t>(encodeBase64BufferSize(length) + 1);
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, size);
    EXPECT_TRUE(lpaSendPendingNotification(nullptr, &result_));
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, 0);
    EXPECT_EQ(result_.first, 1u);
    EXPECT_EQ(result_.second, 0u);
    EXPECT_TRUE(LogHas("ERR", "Cannot allocate " + std::to_string(size) + " bytes for conversion buffer tmpInfo!"));
    EXPECT_EQ(Sim().state().notifications.size(), 1u);
    EXPECT_EQ(LiveBlocks(), before);
}

TEST_F(RobustnessTest, ModuleSilentMidPackageFailsTheStepWithoutCancel)
{
    StartSmdp("{\"profiles\": [{\"elementCount\": 2, \"elementSize\": 300}]}");
    Sim().faults().add(FaultRule::at("BF3682").silence().always());
    LpaDownloadCallbacks callbacks = AllCallbacks(&log_);
    EXPECT_FALSE(lpaDownloadProfile(Code().c_str(), &callbacks, &result_));
    // The driver records no code of its own: it raises an event; the step's code follows.
    EXPECT_EQ(lpaGetErrorCode(), 0x2313u);
    EXPECT_FALSE(log_.events.empty());
    EXPECT_TRUE(CancelReasons().empty());
    EXPECT_TRUE(HasPhase(log_, 6, "Failed to Load Bound Profile Package"));
    EXPECT_TRUE(HasPhase(log_, 7, "Failed to retrieve PIR notification from eUICC"));
    EXPECT_TRUE(Sim().state().profiles.empty());
}

}  // namespace
}  // namespace hbr_test
