// Configuration parameters: conversions, refusals, limits and routing to
// each store; the configuration file.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "config_test_util.h"
#include "fresh_process.h"
#include "httpmedia_curl.h"
#include "lpa_core_log.h"
#include "lpa_core_memory.h"
#include "lpa_hex.h"
#include "lpa_host.h"
#include "lpa_httpmedia.h"

using hbr_test::ConfigFixture;
using hbr_test::WriteFile;

namespace {

class ConfigTest : public ConfigFixture {};

TEST_F(ConfigTest, LogLevelIsSelectedByNameAndSysIsRefusedWithoutCode)
{
    EXPECT_FALSE(SetText("logLevel", "SYS"));
    EXPECT_EQ(TakeError(), 0u);
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_DEB);
    EXPECT_TRUE(HasLine("DEB", "Parameter key name                            : logLevel"));
    EXPECT_TRUE(HasLine("DEB", "Parameter type given                          : LPA_PARAMETER_TYPE_STRING"));
    EXPECT_TRUE(HasLine("DEB", "Parameter value (Type match cannot be checked): SYS"));
    EXPECT_TRUE(HasLine("DEB", "Parameter key identified, default type        : LPA_PARAMETER_TYPE_STRING"));
    EXPECT_TRUE(HasLine("DEB", "-- lpaManagerSetConfigParameter() return false"));

    EXPECT_TRUE(SetText("LOGlevel", "inf"));
    EXPECT_EQ(TakeError(), 0u);
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_INF);
    EXPECT_TRUE(HasLine("SYS", "Updating log level to 'INF' ( 'DEB' previously)"));
    EXPECT_EQ(GetText("loglevel"), "INF");
}

TEST_F(ConfigTest, LogMaxSizeConvertsWholeInt32TextsAndRefusesSmallSizesWithoutCode)
{
    EXPECT_FALSE(SetText("logMaxSize", "65536"));
    EXPECT_EQ(TakeError(), 0u);
    EXPECT_EQ(GetLong("logMaxSize"), 1048576);

    EXPECT_TRUE(SetText("logMaxSize", "65537"));
    EXPECT_TRUE(HasLine("DEB", "Conversion from STRING to LONG performed."));
    EXPECT_EQ(GetLong("logMaxSize"), 65537);
    EXPECT_EQ(logGetMaxSize(), 65537);
    EXPECT_TRUE(HasLine("DEB", "Parameter value                               : 65537"));

    EXPECT_TRUE(SetText("logMaxSize", " +70000"));
    EXPECT_EQ(GetLong("logMaxSize"), 70000);

    for (const char *bad : {"12ab", "4294967297", "-2147483649", "70000 ", "", " ", "+"}) {
        if (std::string(bad).empty()) {
            // An empty text converts to 0, which the log then refuses.
            EXPECT_FALSE(SetText("logMaxSize", bad));
            EXPECT_EQ(TakeError(), 0u);
            continue;
        }
        EXPECT_FALSE(SetText("logMaxSize", bad)) << bad;
        EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE)) << bad;
    }
    EXPECT_TRUE(HasLine("ERR", "Parameter type given is not compatible with parameter key!"));
    EXPECT_EQ(GetLong("logMaxSize"), 70000);

    const int32_t size = 2097152;
    EXPECT_TRUE(lpaManagerSetConfigParameter("logMaxSize", LPA_PARAMETER_TYPE_LONG, &size, false));
    EXPECT_TRUE(HasLine("DEB", "Parameter value (Type match cannot be checked): 2097152"));
    EXPECT_EQ(GetLong("logMaxSize"), size);
    const uint8_t on = 1;
    EXPECT_FALSE(lpaManagerSetConfigParameter("logMaxSize", LPA_PARAMETER_TYPE_BOOL, &on, false));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE));
}

TEST_F(ConfigTest, BooleanKeysTakeOnlyTheListedTexts)
{
    for (const char *bad : {"Yes", "True", "1", "on", "no "}) {
        EXPECT_FALSE(SetText("addLeToApduCase4", bad)) << bad;
        EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE)) << bad;
    }
    EXPECT_TRUE(lpaManagerIsAddLeToApduCase4());
    EXPECT_TRUE(SetText("addLeToApduCase4", "NO"));
    EXPECT_TRUE(HasLine("DEB", "Conversion from STRING to BOOL performed."));
    EXPECT_FALSE(lpaManagerIsAddLeToApduCase4());

    uint8_t value = 0xEE;
    EXPECT_TRUE(lpaManagerGetConfigParameter("ADDLETOAPDUCASE4", LPA_PARAMETER_TYPE_BOOL, &value, 1));
    EXPECT_EQ(value, 0);

    const int32_t one = 1;
    EXPECT_FALSE(lpaManagerSetConfigParameter("profileRefreshFlag", LPA_PARAMETER_TYPE_LONG, &one, false));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE));
    const uint8_t off = 0;
    EXPECT_TRUE(lpaManagerSetConfigParameter("profileRefreshFlag", LPA_PARAMETER_TYPE_BOOL, &off, false));
    EXPECT_TRUE(HasLine("DEB", "Parameter value (Type match cannot be checked): false"));
    EXPECT_FALSE(lpaManagerIsProfileRefreshFlag());
    EXPECT_TRUE(SetText("profileRefreshFlag", "yes"));
    EXPECT_TRUE(lpaManagerIsProfileRefreshFlag());

    // STRING keys take only STRING values.
    EXPECT_FALSE(lpaManagerSetConfigParameter("readerName", LPA_PARAMETER_TYPE_BOOL, &off, false));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE));
}

TEST_F(ConfigTest, ReadsNeverConvertAndCheckTheSize)
{
    int64_t wide = 0;
    EXPECT_FALSE(lpaManagerGetConfigParameter("logMaxSize", LPA_PARAMETER_TYPE_LONG, &wide, sizeof(wide)));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER_TYPE));
    EXPECT_TRUE(HasLine("ERR", "Size of variable receiving value does not match value type!"));

    char text[32];
    EXPECT_FALSE(lpaManagerGetConfigParameter("logMaxSize", LPA_PARAMETER_TYPE_STRING, text, sizeof(text)));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER_TYPE));
    EXPECT_TRUE(HasLine("ERR", "Parameter type given does not match parameter key default type (LPA_PARAMETER_TYPE_LONG)"));

    int32_t number = 0;
    EXPECT_FALSE(lpaManagerGetConfigParameter("addLeToApduCase4", LPA_PARAMETER_TYPE_BOOL, &number, sizeof(number)));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER_TYPE));

    EXPECT_FALSE(lpaManagerGetConfigParameter("logMaxSize", 7, &number, sizeof(number)));
    EXPECT_TRUE(HasLine("ERR", "Parameter type given not managed, will be not displayed!"));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER_TYPE));

    EXPECT_FALSE(lpaManagerGetConfigParameter("logMaxSize", LPA_PARAMETER_TYPE_LONG, &number, 0));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));
}

TEST_F(ConfigTest, RestrictedAndUnknownKeys)
{
    const uint8_t off = 0;
    uint8_t value = 0;
    for (const char *key : {"CURL_SSL_VERIFYPEER", "curl_ssl_verifyhost", "activateCURLDebugMode",
                            "sendPIRDuringDownloadProfile"}) {
        EXPECT_FALSE(lpaManagerSetConfigParameter(key, LPA_PARAMETER_TYPE_BOOL, &off, false)) << key;
        EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_PARAMETER_NOT_AUTHORIZED)) << key;
        EXPECT_FALSE(lpaManagerGetConfigParameter(key, LPA_PARAMETER_TYPE_BOOL, &value, 1)) << key;
        EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_PARAMETER_NOT_AUTHORIZED)) << key;
    }
    EXPECT_TRUE(HasLine("ERR", "Parameter key not authorized!"));
    EXPECT_TRUE(httpMediaOptionValues.booleanOption[HTTP_MEDIA_OPTION_SSL_VERIFYPEER]);
    EXPECT_TRUE(lpaManagerIsSendPIRDuringDownloadProfile());

    EXPECT_FALSE(SetText("readerNam", "x"));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(HasLine("ERR", "Parameter key name not identified!"));
    EXPECT_FALSE(SetText("readerName ", "x"));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(lpaManagerGetConfigParameter("nope", LPA_PARAMETER_TYPE_BOOL, &value, 1));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(lpaManagerSetConfigParameter(nullptr, LPA_PARAMETER_TYPE_BOOL, &off, false));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(lpaManagerSetConfigParameter("readerName", LPA_PARAMETER_TYPE_STRING, nullptr, false));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));

    // An unmanaged value type is logged, and the key decides.
    EXPECT_FALSE(lpaManagerSetConfigParameter("readerName", 9, "x", false));
    EXPECT_TRUE(HasLine("ERR", "Parameter type given not managed. Value will be not logged!"));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE));
}

TEST_F(ConfigTest, ExistenceHidesRestrictedKeys)
{
    int32_t type = 0;
    bool exists = true;
    EXPECT_TRUE(lpaManagerIsConfigParameterExist("CERTPATH", &type, &exists));
    EXPECT_TRUE(exists);
    EXPECT_EQ(type, LPA_PARAMETER_TYPE_STRING);
    EXPECT_TRUE(HasLine("DEB", "Searching parameter key 'CERTPATH'"));
    EXPECT_TRUE(HasLine("DEB", "Parameter key exists (isRestricted:no)"));

    EXPECT_TRUE(lpaManagerIsConfigParameterExist("CURL_SSL_VERIFYPEER", &type, &exists));
    EXPECT_FALSE(exists);
    EXPECT_EQ(type, LPA_PARAMETER_TYPE_NOT_FOUND);
    EXPECT_TRUE(HasLine("DEB", "Parameter key exists (isRestricted:yes)"));

    exists = true;
    EXPECT_TRUE(lpaManagerIsConfigParameterExist("unknownKey", &type, &exists));
    EXPECT_FALSE(exists);
    EXPECT_EQ(type, 1664);
    EXPECT_TRUE(HasLine("WAR", "Parameter key does not exist."));
    EXPECT_EQ(CountLines("DEB", "-- lpaManagerIsConfigParameterExist() return true"), 3u);

    EXPECT_FALSE(lpaManagerIsConfigParameterExist("certPath", nullptr, &exists));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(HasLine("DEB", "-- lpaManagerIsConfigParameterExist() return false"));
}

TEST_F(ConfigTest, TextLimitsAndBufferSizes)
{
    EXPECT_TRUE(SetText("certPath", "abc"));
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(lpaManagerGetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, buffer, 3));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_TRUE(lpaManagerGetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, buffer, 4));
    EXPECT_STREQ(buffer, "abc");
    EXPECT_TRUE(HasLine("DEB", "Parameter value                               : abc"));

    const std::string name63(63, 'r');
    EXPECT_TRUE(SetText("readerName", name63.c_str()));
    EXPECT_FALSE(SetText("readerName", std::string(64, 's').c_str()));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(lpaManagerGetReaderName()), name63);

    const std::string path259(259, 'p');
    EXPECT_TRUE(SetText("certPath", path259.c_str()));
    EXPECT_FALSE(SetText("certPath", std::string(260, 'q').c_str()));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(lpaManagerGetCertPath()), path259);

    // The direct setter: same limit, no error code, no trace.
    logClose();
    RestartLog();
    EXPECT_FALSE(lpaManagerSetCertPath(std::string(260, 'q').c_str()));
    EXPECT_FALSE(lpaManagerSetCertPath(nullptr));
    EXPECT_EQ(std::string(lpaManagerGetCertPath()), path259);
    EXPECT_TRUE(lpaManagerSetCertPath("/etc/ca.pem"));
    EXPECT_EQ(GetText("certPath"), "/etc/ca.pem");
    EXPECT_EQ(TakeError(), 0u);
    EXPECT_EQ(hbr_test::FindLine(LogLines(), "lpaManagerSetCertPath"), -1);
}

TEST_F(ConfigTest, DeviceInfoTlvIsKeptAsTextAndBytes)
{
    std::string digits;
    for (int i = 0; i < 192; ++i) {
        static const char hex[] = "0123456789abcdefABCDEF";
        digits += hex[i % 22];
        digits += hex[(i * 7) % 22];
    }
    ASSERT_EQ(digits.size(), 384u);
    EXPECT_TRUE(SetText("deviceInfoTlv", digits.c_str()));
    size_t length = 0;
    const uint8_t *bytes = lpaManagerGetDeviceInfoTlvBytes(&length);
    ASSERT_EQ(length, 192u);
    for (size_t i = 0; i < length; ++i) {
        EXPECT_EQ(bytes[i], std::stoul(digits.substr(2 * i, 2), nullptr, 16)) << i;
    }
    EXPECT_EQ(GetText("deviceInfoTlv"), digits);

    EXPECT_FALSE(SetText("deviceInfoTlv", (digits + "00").c_str()));
    EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(lpaManagerGetDeviceInfoTlvText()), digits);
    lpaManagerGetDeviceInfoTlvBytes(&length);
    EXPECT_EQ(length, 192u);

    EXPECT_FALSE(SetText("deviceInfoTlv", "A1G0"));
    EXPECT_EQ(TakeError(), 0u);
    EXPECT_TRUE(HasLine("DEB", "hexStr2ByteArray() => error: G or 0 is not hex digit! "));
    EXPECT_TRUE(HasLine("ERR", "-- Unable to convert DeviceInfoTLV element as ByteArray !!"));
    EXPECT_EQ(std::string(lpaManagerGetDeviceInfoTlvText()), "");
    bytes = lpaManagerGetDeviceInfoTlvBytes(&length);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(bytes[0], 0);

    EXPECT_FALSE(SetText("deviceInfoTlv", "A"));
    EXPECT_TRUE(HasLine("DEB", "hexStr2ByteArray() => error: inLen <= 1 !"));
    EXPECT_FALSE(SetText("deviceInfoTlv", "ABC"));
    EXPECT_TRUE(HasLine("DEB", "hexStr2ByteArray() => error: ptrInHexString not modulo 2 !"));
    EXPECT_EQ(TakeError(), 0u);

    // The shared converter never writes past the capacity it is given.
    uint8_t out[3] = {0, 0, 0x77};
    size_t capacity = 2;
    EXPECT_FALSE(hexStr2ByteArray("010203", 6, out, &capacity));
    EXPECT_EQ(out[2], 0x77);
    capacity = 2;
    EXPECT_TRUE(hexStr2ByteArray("fF0a", 4, out, &capacity));
    EXPECT_EQ(capacity, 2u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x0A);
}

TEST_F(ConfigTest, AllocatorKnobIsSetByTextAndReadBack)
{
    EXPECT_TRUE(SetText("MEM_ERR_IF_SIZE_REQUESTED_GE", "4096"));
    EXPECT_TRUE(HasLine("DEB", "++ _lpaManagerSetLongMemoryErrorParameterValue(...)"));
    void *large = LPA_MALLOC(4096);
    EXPECT_EQ(large, nullptr);
    void *small = LPA_MALLOC(4095);
    EXPECT_NE(small, nullptr);
    LPA_FREE(small);
    EXPECT_EQ(GetLong("mem_err_if_size_requested_ge"), 4096);
    EXPECT_EQ(GetLong("MEM_ERR_IF_MEM_COUNTER_EQ"), 0);
}

TEST_F(ConfigTest, CurlOptionsNeedTheMediaAndSurviveItsRecreation)
{
    EXPECT_FALSE(SetText("CURL_TIMEOUT", "5"));
    EXPECT_TRUE(HasLine("WAR", "_httpMedia is not created !"));
    EXPECT_EQ(httpMediaOptionValues.longOption[HTTP_MEDIA_OPTION_TIMEOUT - HTTP_MEDIA_LONG_OPTION_FIRST], 60);
    int32_t value = 0;
    EXPECT_FALSE(lpaManagerGetConfigParameter("CURL_TIMEOUT", LPA_PARAMETER_TYPE_LONG, &value, sizeof(value)));
    EXPECT_EQ(TakeError(), 0u);

    ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    EXPECT_TRUE(SetText("CURL_TIMEOUT", "5"));
    EXPECT_EQ(GetLong("CURL_TIMEOUT"), 5);
    EXPECT_TRUE(SetText("curl_connect_timeout", "0"));
    EXPECT_EQ(GetLong("CURL_CONNECT_TIMEOUT"), 0);
    // A negative time-out is refused as text and as a number; 0 (none) stays.
    const int32_t negative = -1;
    for (const char *key : {"CURL_TIMEOUT", "CURL_CONNECT_TIMEOUT"}) {
        EXPECT_FALSE(SetText(key, "-1")) << key;
        EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE)) << key;
        EXPECT_FALSE(lpaManagerSetConfigParameter(key, LPA_PARAMETER_TYPE_LONG, &negative, true)) << key;
        EXPECT_EQ(TakeError(), static_cast<uint32_t>(LPA_ERROR_INCORRECT_PARAMETER_TYPE)) << key;
    }
    EXPECT_TRUE(HasLine("ERR", "Negative time-out value refused!"));
    EXPECT_EQ(GetLong("CURL_TIMEOUT"), 5);
    EXPECT_EQ(GetLong("CURL_CONNECT_TIMEOUT"), 0);

    ASSERT_TRUE(httpMediaManagerDelete());
    ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    EXPECT_EQ(GetLong("CURL_TIMEOUT"), 5);
    EXPECT_EQ(GetLong("CURL_CONNECT_TIMEOUT"), 0);

    // The restricted booleans keep their stores reachable from inside.
    bool verifyPeer = false;
    EXPECT_TRUE(_lpaManagerGetBooleanParameterValue(LPA_PARAMETER_ID_CURL_SSL_VERIFYPEER, &verifyPeer));
    EXPECT_TRUE(verifyPeer);
    EXPECT_TRUE(HasLine("DEB", "Parameter value                               : true"));
}

// ---- configuration file (each body runs in a fresh process: the file is
// read once per process) ----

class ConfigFileTest : public ConfigFixture {
protected:
    std::string FilePath() const { return dir_ + "/" LPA_CONFIG_FILE_NAME; }
};

TEST_F(ConfigFileTest, LoadsEveryUsableLine)
{
    HBR_RUN_IN_FRESH_PROCESS();
    ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    std::string text =
        "  # a comment after two blanks\r\n"
        "\t; a comment\r\n"
        "// a comment\r\n"
        "\r\n"
        "no separator here\r\n"
        "certPath=\r\n"
        "  readerName=a=b\r\n"
        "readerName =x\r\n"
        "CURL_SSL_VERIFYPEER=false\r\n"
        "noSuchKey=1\r\n"
        "logMaxSize=2097152\r\n"
        "addLeToApduCase4=no\r\n"
        "deviceInfoTlv=0102aBcD\r\n"
        "CURL_TIMEOUT=7\r\n"
        "logMaxSize=12ab\r\n"
        "#" + std::string(1022, '-') + "profileRefreshFlag=no\r\n"
        "logLevel=VER\r\n";
    WriteFile(FilePath(), text);
    ASSERT_TRUE(lpaManagerSetConfigFilePath(FilePath().c_str()));

    bool present = false;
    EXPECT_TRUE(lpaConfigFileLoad(&present));
    EXPECT_TRUE(present);

    EXPECT_EQ(std::string(lpaManagerGetReaderName()), "a=b");
    EXPECT_EQ(std::string(lpaManagerGetCertPath()), "");
    EXPECT_EQ(GetLong("logMaxSize"), 2097152);
    EXPECT_FALSE(lpaManagerIsAddLeToApduCase4());
    size_t length = 0;
    const uint8_t *bytes = lpaManagerGetDeviceInfoTlvBytes(&length);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(bytes[2], 0xAB);
    EXPECT_EQ(bytes[3], 0xCD);
    EXPECT_FALSE(lpaManagerIsProfileRefreshFlag());  // the second piece of the long line
    EXPECT_TRUE(httpMediaOptionValues.booleanOption[HTTP_MEDIA_OPTION_SSL_VERIFYPEER]);
    EXPECT_EQ(logGetLevel(), LPA_LOG_LEVEL_VER);

    const std::string path = FilePath();
    EXPECT_TRUE(HasLine("INF", "lpaConfigFileLoad() ..."));
    EXPECT_TRUE(HasLine("INF", "opening '" + path + "' configuration file ..."));
    EXPECT_TRUE(HasLine("INF", "loading '" + path + "' configuration file ..."));
    EXPECT_EQ(CountLines("WAR", "Separator not found on Configuration entry!"), 1u);
    EXPECT_EQ(CountLines("WAR", "Incorrect configuration entry !"), 1u);
    EXPECT_TRUE(HasLine("DEB", "Parsing configuration entry 'readerName=a=b' ..."));
    EXPECT_TRUE(HasLine("INF", "managing LPA parameter : 'readerName'='a=b'"));
    EXPECT_TRUE(HasLine("DEB", "Internal call to this function"));
    EXPECT_TRUE(HasLine("INF", "LPA parameter 'readerName' configured successfully with value 'a=b'"));
    EXPECT_TRUE(HasLine("WAR", "parameter 'readerName ' not exit or not supported"));
    EXPECT_TRUE(HasLine("WAR", "parameter 'noSuchKey' not exit or not supported"));
    EXPECT_TRUE(HasLine("WAR", "No access right to update LPA parameter 'CURL_SSL_VERIFYPEER' with value 'false' !"));
    EXPECT_TRUE(HasLine("WAR", "Unable to set LPA parameter 'logMaxSize' with value '12ab' !"));
    EXPECT_TRUE(HasLine("DEB", "Searching parameter key 'noSuchKey'"));
    EXPECT_TRUE(HasLine("INF", "LPA parameter 'logLevel' configured successfully with value 'VER'"));
    EXPECT_TRUE(HasLine("DEB", "Closing configuration file ..."));

    // The file's time-out outlives the media it was set through.
    ASSERT_TRUE(httpMediaManagerDelete());
    ASSERT_TRUE(httpMediaManagerInitialize(New_HTTPMediaCurl, Delete_HTTPMediaCurl));
    EXPECT_EQ(GetLong("CURL_TIMEOUT"), 7);
}

TEST_F(ConfigFileTest, IsTriedUntilItOpensAndThenReadOnce)
{
    HBR_RUN_IN_FRESH_PROCESS();
    ASSERT_TRUE(lpaManagerSetConfigFilePath(FilePath().c_str()));
    EXPECT_FALSE(lpaManagerSetConfigFilePath(std::string(260, 'f').c_str()));

    bool present = true;
    EXPECT_FALSE(lpaConfigFileLoad(&present));
    EXPECT_FALSE(present);
    present = true;
    EXPECT_FALSE(lpaConfigFileLoad(&present));
    EXPECT_FALSE(present);
    EXPECT_EQ(CountLines("WAR", "unable to open configuration file"), 2u);

    WriteFile(FilePath(), "readerName=first\n");
    EXPECT_TRUE(lpaConfigFileLoad(&present));
    EXPECT_TRUE(present);
    EXPECT_EQ(std::string(lpaManagerGetReaderName()), "first");

    WriteFile(FilePath(), "readerName=second\n");
    present = false;
    EXPECT_TRUE(lpaConfigFileLoad(&present));
    EXPECT_TRUE(present);
    EXPECT_TRUE(HasLine("INF", "configuration file already loaded"));
    EXPECT_EQ(std::string(lpaManagerGetReaderName()), "first");
    EXPECT_EQ(CountLines("INF", "lpaConfigFileLoad() ..."), 4u);
}

}  // namespace
