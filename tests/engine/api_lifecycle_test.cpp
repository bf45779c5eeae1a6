// The engine API frame and lifecycle through the exports: initialisation,
// uninitialisation, versions, parameters, the reader list, the extended
// API and the call frame, over the simulated module.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "api_test_util.h"
#include "fresh_process.h"
#include "lpa_host.h"
#include "lpa_httpmedia.h"
#include "lpa_manager_config.h"
#include "lpa_manager_es10c.h"
#include "se_media_manager.h"

namespace hbr_test {
namespace {

const std::vector<std::string> kBanner = {
    "---==========================---",
    "--------------------------------",
    "LPA Module release 1.6.1.1",
    "LPA API : 1.7",
    "Build option(s):",
    "  - LPA_SDK__PLATFORM_WIN",
    "  - LPA_SDK__MEMORY",
    "  - LPA_SDK__MEMORY_MONITORING",
    "  - LPA_SDK__SEMEDIA_DRIVER_GENERIC_MODEM",
    "  - LPA_SDK__NUMBER_OF_RETRY_FOR_CHAINED_GET_RESPONSE - Value: 2",
    "  - LPA_SDK__MAX_SIZE_OF_DATA_IN_STORE_DATA_APDU - Value: 255",
    "--------------------------------",
    "------ LPA Initialize ------",
    "LPAManager initialization ...",
};

// The messages without the allocator's own lines.
std::vector<std::string> Messages(const std::vector<LogEntry> &log)
{
    std::vector<std::string> out;
    for (const auto &e : log) {
        if (e.message.rfind("[LPASDKMEM]", 0) != 0) {
            out.push_back(e.message);
        }
    }
    return out;
}

// The log with addresses blanked, for comparing two passes.
std::vector<LogEntry> WithoutAddresses(std::vector<LogEntry> log)
{
    for (auto &e : log) {
        size_t at = e.message.find("=0x");
        if (at != std::string::npos) {
            e.message.erase(at + 3);
        }
    }
    return log;
}

// ---- lifecycle ----

class LifecycleTest : public ApiTestBase {};

TEST_F(LifecycleTest, OneFolderGivesTheSameLogAsTwoEqualFolders)
{
    // A first pass of the process differs (callback registration): compare
    // two later passes.
    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    ASSERT_TRUE(lpaUninitialize());
    std::remove(logPath_.c_str());

    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    ASSERT_TRUE(lpaUninitialize());
    std::vector<LogEntry> first = Log();
    std::remove(logPath_.c_str());

    ASSERT_TRUE(lpaInitializeWithInputOutputFolder(dir_.c_str(), dir_.c_str()));
    ASSERT_TRUE(lpaUninitialize());
    EXPECT_EQ(WithoutAddresses(Log()), WithoutAddresses(first));

    // The banner opens the log, at INF, in order; the pass ends with the
    // rotation switch and the closing line.
    std::vector<LogEntry> expected;
    for (const auto &text : kBanner) {
        expected.push_back({"INF", text});
    }
    ASSERT_GE(first.size(), expected.size());
    EXPECT_EQ(std::vector<LogEntry>(first.begin(), first.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_TRUE(InOrder(first, {{"DEB", "++ lpaManagerInitialize(...)"},
                                {"DEB", "-- lpaManagerInitialize(...)"},
                                {"INF", "LPAManager initialization done successfully"},
                                {"INF", "---- =====================  ----"},
                                {"INF", "Initialize SE Media () ..."},
                                {"DEB", "++ lpaManagerInitializeSEMedia(...)"},
                                {"DEB", "+seMediaManagerInitialize()"},
                                {"DEB", "+seMediaManagerSetCallbackEventExecutionError()"},
                                {"DEB", "-- seMediaManagerSetCallbackEventExecutionError() : return true"},
                                {"DEB", "-- lpaManagerInitializeSEMedia(...)"},
                                {"INF", "Initialize HTTP Media () ..."},
                                {"DEB", "++ lpaManagerInitializeHttpMedia(...)"},
                                {"DEB", "+httpMediaManagerInitialize()"},
                                {"DEB", "-httpMediaManagerInitialize()"},
                                {"DEB", "-- httpMediaManagerSetCallbackEventExecutionError() : return true"},
                                {"DEB", "-- lpaManagerInitializeHttpMedia(...)"},
                                {"INF", "Manage Configuration file ..."},
                                {"INF", "Loading configuration file (if present) ..."},
                                {"DEB", "Activate log limitation mechanism ..."},
                                {"INF", "--------------------------------"},
                                {"DEB", "------ LPA Uninitialize ------"}}));
}

TEST_F(LifecycleTest, SecondInitialisationAndUninitialisationWhenIdle)
{
    // Uninitialising an engine that is not running writes nothing.
    EXPECT_FALSE(lpaIsInitialized());
    EXPECT_FALSE(lpaUninitialize());
    EXPECT_FALSE(FileExists(logPath_));

    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    EXPECT_TRUE(lpaIsInitialized());
    lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
    MarkLog();
    EXPECT_FALSE(lpaInitialize(dir_.c_str()));
    EXPECT_EQ(LogSinceMark(), (std::vector<LogEntry>{{"INF", "--------------------------------"}}));
    EXPECT_EQ(lpaGetErrorCodeNoClear(), (uint32_t)LPA_ERROR_INVALID_SW);
    EXPECT_TRUE(lpaIsInitialized());

    ASSERT_TRUE(lpaUninitialize());
    long size = FileSize(logPath_);
    EXPECT_FALSE(lpaUninitialize());
    EXPECT_EQ(FileSize(logPath_), size);
    // Uninitialisation leaves the last error alone.
    EXPECT_EQ(lpaGetErrorCodeNoClear(), (uint32_t)LPA_ERROR_INVALID_SW);
}

TEST_F(LifecycleTest, InitialiseUninitialiseInitialise)
{
    uint32_t before = LiveBlocks();
    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    EXPECT_NE(_seMedia, nullptr);
    EXPECT_NE(_httpMedia, nullptr);
    ASSERT_TRUE(lpaUninitialize());
    EXPECT_EQ(_seMedia, nullptr);
    EXPECT_EQ(_httpMedia, nullptr);
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_FALSE(logIsOpen());

    const std::vector<std::string> uninitialisation = {
        "------ LPA Uninitialize ------",
        "lpaManagerSEMediaManagerIsInitialized()",
        "+seMediaManagerIsInitialized()",
        "lpaManagerSEMediaManagerUninitialize()",
        "+seMediaManagerUninitialize()",
        "++ semedia_genericmodem :> Delete_SEMediaGenericModem()",
        "-- semedia_external :> Delete_SEMediaExternal()",
        "lpaManagerHttpMediaManagerIsInitialized()",
        "+httpMediaManagerIsInitialized()",
        "lpaManagerHttpMediaManagerDelete()",
        "+httpMediaManagerDelete()",
        "+httpmedia_curl :> Delete_HTTPMediaCurl()",
    };
    std::vector<LogEntry> log = Log();
    std::vector<std::string> tail = Messages(log);
    ASSERT_GE(tail.size(), uninitialisation.size());
    tail.erase(tail.begin(), tail.end() - static_cast<long>(uninitialisation.size()));
    EXPECT_EQ(tail, uninitialisation);
    std::vector<LogEntry> levels;
    for (const auto &text : uninitialisation) {
        levels.push_back({"DEB", text});
    }
    EXPECT_TRUE(InOrder(log, levels));

    // Later engine lines are dropped while the log is closed.
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "dropped line");
    EXPECT_EQ(CountEntries(Log(), {"ERR", "dropped line"}), 0u);

    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    EXPECT_EQ(CountEntries(Log(), {"INF", "------ LPA Initialize ------"}), 2u);
    LpaEid eid;
    EXPECT_TRUE(lpaGetEID(&eid));
    ASSERT_TRUE(lpaUninitialize());
    EXPECT_EQ(LiveBlocks(), before);
}

TEST_F(LifecycleTest, ReinitialisationRotatesAnOversizedLog)
{
    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    int32_t size = 65537;
    ASSERT_TRUE(lpaSetConfigParameter("logMaxSize", LPA_PARAMETER_TYPE_LONG, &size));
    ASSERT_TRUE(lpaUninitialize());
    std::string old = ReadFile(logPath_) + std::string(70000, 'x') + "\n";
    WriteFile(logPath_, old);

    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    EXPECT_EQ(ReadFile(backupPath_), old);
    std::vector<LogEntry> log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), (LogEntry{"INF", kBanner.front()}));
}

// ---- first initialisation of a process ----

class FreshLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir("hbr-api"); }
    void TearDown() override
    {
        if (lpaIsInitialized()) {
            lpaUninitialize();
        }
        RemoveTree(dir_);
    }
    std::vector<LogEntry> Log(const std::string &folder) const { return ParseLog(ReadLines(folder + "/lpa.log")); }
    std::string dir_;
};

TEST_F(FreshLifecycleTest, FolderFailuresComeBeforeTheLogHooks)
{
    HBR_RUN_IN_FRESH_PROCESS();
    std::string longFolder = dir_ + "/" + std::string(259 - dir_.size() - 1, 'f');
    ASSERT_EQ(longFolder.size(), 259u);
    std::string tooLong = longFolder + "g";

    EXPECT_FALSE(lpaInitialize(nullptr));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaInitializeWithInputOutputFolder(dir_.c_str(), nullptr));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    // An empty folder is no folder: nothing goes to the filesystem root.
    EXPECT_FALSE(lpaInitialize(""));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaInitializeWithInputOutputFolder("", dir_.c_str()));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaInitializeWithInputOutputFolder(dir_.c_str(), ""));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaInitialize(tooLong.c_str()));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(lpaInitialize(longFolder.c_str()));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INSUFFICIENT_BUFFER);

    EXPECT_FALSE(lpaLogHooks.installed);
    EXPECT_FALSE(lpaIsInitialized());
    EXPECT_EQ(_seMedia, nullptr);
    EXPECT_EQ(ReadLines(dir_ + "/lpa.log").size(), 0u);

    // The engine still comes up afterwards.
    EXPECT_TRUE(lpaInitialize(dir_.c_str()));
}

TEST_F(FreshLifecycleTest, FirstInitialisationClearsEarlierValuesAndReadsTheFileOnce)
{
    HBR_RUN_IN_FRESH_PROCESS();
    hbrsim::seam::reset(StandardSeed());
    std::string in = dir_ + "/in";
    std::string out = dir_ + "/out";
    ASSERT_EQ(mkdir(in.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    WriteFile(in + "/lpa_config.ini", "CURL_TIMEOUT=7\nprofileRefreshFlag=false\n");

    // Values set before the first initialisation are cleared by it.
    ASSERT_TRUE(lpaSetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, "/tmp/ca.pem"));
    ASSERT_TRUE(lpaSetConfigParameter("readerName", LPA_PARAMETER_TYPE_STRING, "early"));
    ASSERT_TRUE(lpaInitializeWithInputOutputFolder(in.c_str(), out.c_str()));
    char text[260] = "x";
    ASSERT_TRUE(lpaGetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, text, sizeof(text)));
    EXPECT_STREQ(text, "");
    ASSERT_TRUE(lpaGetConfigParameter("readerName", LPA_PARAMETER_TYPE_STRING, text, sizeof(text)));
    EXPECT_STREQ(text, "");

    // The log goes to the output folder, the file comes from the input folder.
    EXPECT_FALSE(FileExists(in + "/lpa.log"));
    EXPECT_TRUE(InOrder(Log(out), {{"INF", "opening '" + in + "/lpa_config.ini' configuration file ..."},
                                   {"INF", "managing LPA parameter : 'CURL_TIMEOUT'='7'"},
                                   {"INF", "Configuration file loaded"}}));
    int32_t timeout = 0;
    ASSERT_TRUE(lpaGetConfigParameter("CURL_TIMEOUT", LPA_PARAMETER_TYPE_LONG, &timeout, sizeof(timeout)));
    EXPECT_EQ(timeout, 7);

    // A value set now survives the next initialisation, which does not read the file again.
    ASSERT_TRUE(lpaSetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, "/tmp/ca.pem"));
    WriteFile(in + "/lpa_config.ini", "CURL_TIMEOUT=9\n");
    ASSERT_TRUE(lpaUninitialize());
    ASSERT_TRUE(lpaInitializeWithInputOutputFolder(in.c_str(), out.c_str()));
    ASSERT_TRUE(lpaGetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, text, sizeof(text)));
    EXPECT_STREQ(text, "/tmp/ca.pem");
    ASSERT_TRUE(lpaGetConfigParameter("CURL_TIMEOUT", LPA_PARAMETER_TYPE_LONG, &timeout, sizeof(timeout)));
    EXPECT_EQ(timeout, 7);
    EXPECT_TRUE(InOrder(Log(out), {{"INF", "configuration file already loaded"}, {"INF", "Configuration file loaded"}}));
}

TEST_F(FreshLifecycleTest, FileMissingAtTheFirstInitialisationIsReadAtTheSecond)
{
    HBR_RUN_IN_FRESH_PROCESS();
    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    EXPECT_EQ(CountEntries(Log(dir_), {"INF", "Configuration file not present"}), 1u);
    ASSERT_TRUE(lpaUninitialize());
    WriteFile(dir_ + "/lpa_config.ini", "CURL_TIMEOUT=7\n");
    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    EXPECT_EQ(CountEntries(Log(dir_), {"INF", "Configuration file loaded"}), 1u);
    int32_t timeout = 0;
    ASSERT_TRUE(lpaGetConfigParameter("CURL_TIMEOUT", LPA_PARAMETER_TYPE_LONG, &timeout, sizeof(timeout)));
    EXPECT_EQ(timeout, 7);
}

// A failed initialisation releases the media it created, so the next one
// succeeds.
TEST_F(FreshLifecycleTest, FailedInitialisationReleasesItsMedia)
{
    HBR_RUN_IN_FRESH_PROCESS();
    hbrsim::seam::reset(StandardSeed());
    uint32_t before = LiveBlocks();
    std::string in = "/" + std::string(249, 'i');  // "/" + "lpa_config.ini" reaches 265
    ASSERT_EQ(in.size(), 250u);
    EXPECT_FALSE(lpaInitializeWithInputOutputFolder(in.c_str(), dir_.c_str()));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(lpaIsInitialized());
    EXPECT_EQ(_seMedia, nullptr);
    EXPECT_EQ(_httpMedia, nullptr);
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_TRUE(logIsOpen());
    EXPECT_TRUE(InOrder(Log(dir_), {{"DEB", "-- lpaManagerInitializeSEMedia(...)"},
                                    {"DEB", "-- lpaManagerInitializeHttpMedia(...)"},
                                    {"INF", "Manage Configuration file ..."},
                                    {"DEB", "lpaManagerSEMediaManagerIsInitialized()"},
                                    {"DEB", "++ semedia_genericmodem :> Delete_SEMediaGenericModem()"},
                                    {"DEB", "-- semedia_external :> Delete_SEMediaExternal()"},
                                    {"DEB", "lpaManagerHttpMediaManagerDelete()"},
                                    {"DEB", "+httpmedia_curl :> Delete_HTTPMediaCurl()"},
                                    {"DEB", "Activate log limitation mechanism ..."},
                                    {"INF", "--------------------------------"}}));

    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    LpaEid eid;
    EXPECT_TRUE(lpaGetEID(&eid));
    EXPECT_EQ(HexOf(eid.eid, eid.eidLength), kSimEid);
}

// ---- parameters through the exports ----

class ParameterApiTest : public ApiFixture {};

TEST_F(ParameterApiTest, ExistenceHidesRestrictedKeys)
{
    int32_t type = 0;
    bool exists = false;
    EXPECT_TRUE(lpaIsConfigParameterExist("CERTPATH", &type, &exists));
    EXPECT_TRUE(exists);
    EXPECT_EQ(type, LPA_PARAMETER_TYPE_STRING);

    EXPECT_TRUE(lpaIsConfigParameterExist("CURL_SSL_VERIFYPEER", &type, &exists));
    EXPECT_FALSE(exists);
    EXPECT_EQ(type, 1664);

    exists = true;
    EXPECT_TRUE(lpaIsConfigParameterExist("nope", &type, &exists));
    EXPECT_FALSE(exists);
    EXPECT_EQ(type, 1664);
    EXPECT_EQ(lpaGetErrorCode(), 0u);

    EXPECT_FALSE(lpaIsConfigParameterExist("certPath", nullptr, &exists));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_INVALID_PARAMETER);

    std::vector<LogEntry> log = LogSinceMark();
    EXPECT_TRUE(InOrder(log, {{"DEB", "[LPASDKAPI] <lpaIsConfigParameterExist> started"},
                              {"DEB", "lpaResetErrorCode()..."},
                              {"DEB", "++ lpaManagerIsConfigParameterExist(...)"},
                              {"DEB", "Searching parameter key 'CERTPATH'"},
                              {"DEB", "Parameter key exists (isRestricted:no)"},
                              {"DEB", "-- lpaManagerIsConfigParameterExist() return true"},
                              {"DEB", "[LPASDKAPI] <lpaIsConfigParameterExist> terminated"},
                              {"DEB", "Parameter key exists (isRestricted:yes)"},
                              {"WAR", "Parameter key does not exist."},
                              {"DEB", "[LPASDKAPI] <lpaIsConfigParameterExist> terminated (API error: 0x2001) "}}));
    EXPECT_EQ(CountEntries(log, {"DEB", "++ lpaIsConfigParameterExist()"}), 0u);
}

TEST_F(ParameterApiTest, RestrictedKeysAreRefused)
{
    bool value = false;
    EXPECT_FALSE(lpaSetConfigParameter("CURL_SSL_VERIFYPEER", LPA_PARAMETER_TYPE_BOOL, &value));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_PARAMETER_NOT_AUTHORIZED);
    EXPECT_FALSE(lpaGetConfigParameter("CURL_SSL_VERIFYPEER", LPA_PARAMETER_TYPE_BOOL, &value, 1));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_PARAMETER_NOT_AUTHORIZED);
    std::vector<LogEntry> log = LogSinceMark();
    EXPECT_EQ(CountEntries(log, {"DEB", "[LPASDKAPI] <lpaSetConfigParameter> terminated (API error: 0x2013) "}), 1u);
    EXPECT_EQ(CountEntries(log, {"DEB", "[LPASDKAPI] <lpaGetConfigParameter> terminated (API error: 0x2013) "}), 1u);
}

TEST_F(ParameterApiTest, ValuesSurviveAnotherInitialisation)
{
    int32_t timeout = 7;
    ASSERT_TRUE(lpaSetConfigParameter("readerName", LPA_PARAMETER_TYPE_STRING, "COM7"));
    ASSERT_TRUE(lpaSetConfigParameter("profileRefreshFlag", LPA_PARAMETER_TYPE_STRING, "false"));
    ASSERT_TRUE(lpaSetConfigParameter("CURL_TIMEOUT", LPA_PARAMETER_TYPE_LONG, &timeout));
    ASSERT_TRUE(lpaUninitialize());
    ASSERT_TRUE(lpaInitialize(dir_.c_str()));
    MarkLog();

    EXPECT_TRUE(lpaDisableProfileByIccid(ProvisioningIccid().data(), ProvisioningIccid().size()) ||
                lpaGetErrorCode() == LPA_ERROR_LOCAL_PROFILE_NOT_IN_ENABLE_STATE);
    EXPECT_EQ(CountEntries(LogSinceMark(), {"DEB", "ReaderName='COM7'"}), 1u);
    ASSERT_FALSE(Sim().records().es10.empty());
    EXPECT_EQ(hbrsim::toHex(Sim().records().es10.back().request),
              "BF3211A00C5A0A98001032547698103214810100");
    timeout = 0;
    ASSERT_TRUE(lpaGetConfigParameter("CURL_TIMEOUT", LPA_PARAMETER_TYPE_LONG, &timeout, sizeof(timeout)));
    EXPECT_EQ(timeout, 7);
}

// ---- queries and the extended API ----

class QueryApiTest : public ApiFixture {};

TEST_F(QueryApiTest, Versions)
{
    const LpaApiVersion *api = lpaGetApiVersion();
    EXPECT_EQ(api, lpaGetApiVersion());
    EXPECT_EQ(api->major, 1u);
    EXPECT_EQ(api->minor, 7u);

    LpaVersion version = {};
    EXPECT_TRUE(lpaGetVersion(&version));
    EXPECT_EQ(version.major, 1u);
    EXPECT_EQ(version.minor, 6u);
    EXPECT_EQ(version.revision, 1u);
    EXPECT_EQ(version.build, 1u);

    lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
    EXPECT_FALSE(lpaGetVersion(nullptr));
    EXPECT_EQ(lpaGetErrorCode(), 0u);
}

TEST_F(QueryApiTest, ReaderList)
{
    char names[4][LPA_READER_NAME_LENGTH];
    size_t count = 9;
    EXPECT_TRUE(lpaGetReaderList(names, 4, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(names[0], "\\\\.\\COM44");
    EXPECT_EQ(std::strlen(names[0]), 9u);
    EXPECT_TRUE(AtCommands().empty());
    std::vector<std::string> traces;
    for (const auto &e : LogSinceMark()) {
        if (e.message.rfind("++ lpaGetReaderList", 0) == 0 || e.message.rfind("+seMedia", 0) == 0 ||
            e.message.rfind("-- lpaGetReaderList", 0) == 0) {
            traces.push_back(e.message);
        }
    }
    EXPECT_EQ(traces, (std::vector<std::string>{"++ lpaGetReaderList()", "+seMediaManagerIsContextEstablished()",
                                                "+seMediaManagerEstablishContext()", "+seMediaManagerListReader()",
                                                "+seMediaManagerReleaseContext()", "-- lpaGetReaderList() : return true"}));

    // No room: nothing written, count 0, false, no code.
    char canary[2][LPA_READER_NAME_LENGTH];
    std::memset(canary, 0xA5, sizeof(canary));
    count = 9;
    EXPECT_FALSE(lpaGetReaderList(canary, 0, &count));
    EXPECT_EQ(count, 0u);
    for (size_t i = 0; i < sizeof(canary); ++i) {
        ASSERT_EQ(static_cast<uint8_t>(reinterpret_cast<char *>(canary)[i]), 0xA5) << i;
    }
    EXPECT_EQ(lpaGetErrorCode(), 0u);

    EXPECT_FALSE(lpaGetReaderList(nullptr, 4, &count));
    EXPECT_FALSE(lpaGetReaderList(names, 4, nullptr));
    EXPECT_EQ(lpaGetErrorCode(), 0u);
    EXPECT_TRUE(AtCommands().empty());
}

TEST_F(QueryApiTest, ExtendedApiIsUnavailable)
{
    struct Stub {
        const char *name;
        bool (*call)(void);
        bool traced;
    };
    const Stub stubs[] = {
        {"lpaExGetFullParametersList", lpaExGetFullParametersList, true},
        {"lpaExClearProfileNotification", lpaExClearProfileNotification, true},
        {"lpaExGetProfileNotificationList", lpaExGetProfileNotificationList, true},
        {"lpaExCardReset", lpaExCardReset, false},
        {"lpaExGetExtraVersion", lpaExGetExtraVersion, false},
        {"lpaExWriteMemoryStatusDumpToLog", lpaExWriteMemoryStatusDumpToLog, false},
        {"lpaExGetMemoryStatus", lpaExGetMemoryStatus, false},
        {"lpaExCheckMemoryAllocated", lpaExCheckMemoryAllocated, false},
    };
    for (const Stub &stub : stubs) {
        MarkLog();
        EXPECT_FALSE(stub.call()) << stub.name;
        std::vector<std::string> messages = Messages(LogSinceMark());
        std::string name = stub.name;
        std::vector<std::string> expected = {"[LPASDKAPI] <" + name + "> started", "lpaResetErrorCode()..."};
        if (stub.traced) {
            expected.push_back("++ " + name + "()");
        }
        expected.push_back("lpaSetLastErrorCode(0x00201F)");
        expected.push_back("_errorCode=0x00201F => LPA_ERROR_EXTENDED_API_UNAVAILABLE");
        if (stub.traced) {
            expected.push_back("-- " + name + "() : return false");
        }
        expected.push_back("[LPASDKAPI] <" + name + "> terminated (API error: 0x201f) ");
        EXPECT_EQ(messages, expected) << name;

        MarkLog();
        EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_EXTENDED_API_UNAVAILABLE) << name;
        EXPECT_TRUE(InOrder(LogSinceMark(), {{"DEB", "[LPASDKAPI] <lpaGetErrorCode> started"},
                                             {"DEB", "return _errorCode=0x00201F"},
                                             {"DEB", "[LPASDKAPI] <lpaGetErrorCode> terminated"}}));
        EXPECT_EQ(lpaGetErrorCode(), 0u);
    }
    EXPECT_TRUE(AtCommands().empty());
}

// ---- the frame around card operations ----

class FrameTest : public ApiFixture {};

TEST_F(FrameTest, CardOperationBeforeInitialisation)
{
    ASSERT_TRUE(lpaUninitialize());
    LpaEid eid;
    EXPECT_FALSE(lpaGetEID(&eid));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_SE_MEDIA_NOT_INITIALIZED);
    EXPECT_TRUE(AtCommands().empty());
}

TEST_F(FrameTest, ChannelOpenFailureStillClosesTheConnection)
{
    Sim().faults().add(hbrsim::FaultRule::at("AT+CSIM=10,\"0070000001\"").reply("ERROR\r\n").always());
    LpaEid eid;
    EXPECT_FALSE(NoLeak([&] { return lpaGetEID(&eid); }));
    EXPECT_EQ(lpaGetErrorCode(), (uint32_t)LPA_ERROR_SE_MEDIA_READER_CONNECTION);
    EXPECT_TRUE(Sim().records().es10.empty());
    std::vector<LogEntry> log = LogSinceMark();
    EXPECT_TRUE(InOrder(log, {{"DEB", "[LPASDKAPI] <lpaGetEID> started"},
                              {"DEB", "+seMediaManagerReleaseContext()"},
                              {"DEB", "-- lpaGetEID() : return false"},
                              {"DEB", "[LPASDKAPI] <lpaGetEID> terminated (API error: 0x2008) "}}));
    EXPECT_EQ(CountEntries(log, {"DEB", "++ lpaManagerES10c_GetEID(...)"}), 0u);
}

// A host that runs the manager call itself writes the same log as the export.
TEST_F(FrameTest, FrameBeginAndEndRebuildTheExportFrame)
{
    LpaEid eid;
    ASSERT_TRUE(lpaGetEID(&eid));
    std::vector<std::string> byExport =
        Span(LogSinceMark(), "[LPASDKAPI] <lpaGetEID> started", "[LPASDKAPI] <lpaGetEID> terminated");
    ASSERT_FALSE(byExport.empty());

    MarkLog();
    hbrsim::seam::reset(StandardSeed());
    lpaApiFrameBegin("lpaGetEID");
    bool result = _lpaManagerConnectReaderAndSelectISDR();
    result = lpaManagerES10c_GetEID(&eid) && result;
    result = _lpaManagerUnselectISDRAndDisconnectReader() && result;
    EXPECT_TRUE(lpaApiFrameEnd(result));
    EXPECT_EQ(Span(LogSinceMark(), "[LPASDKAPI] <lpaGetEID> started", "[LPASDKAPI] <lpaGetEID> terminated"),
              byExport);
}

}  // namespace
}  // namespace hbr_test
