#include "engine_fixture.h"

#include <cstdio>

#include "config_defaults.h"
#include "se_media_defaults.h"
#include "lpa_core_log.h"
#include "lpa_core_memory.h"
#include "lpa_api_frame.h"
#include "lpa_error_internal.h"

namespace hbr_test {

void RestoreEngineDefaults()
{
    lpaCoreLogInstallDefaultBackend();
    logClose();
    logSetLevel(LPA_LOG_DEFAULT_LEVEL);
    logSetMaxSize(LPA_LOG_DEFAULT_MAX_SIZE);
    logSetRotation(false);
    for (uint8_t knob = 1; knob <= 6; ++knob) {
        lpaCoreMemorySetParamGenerateErr(knob, 0);
    }
    RestoreConfigDefaults();
    // Last error, running export name and application callback.
    lpaResetErrorCode();
    lpaCurrentApiName[0] = '\0';
    _lpaManagerSetAppEventExecutionErrorCallback(nullptr, nullptr);
    RestoreSeMediaDefaults();
}

void EngineFixture::SetUp()
{
    RestoreEngineDefaults();
    dir_ = MakeTempDir("hbr-engine");
    ASSERT_FALSE(dir_.empty());
    logPath_ = dir_ + "/lpa.log";
    backupPath_ = dir_ + "/lpa.backup.log";
    lpaCoreLogInstallDefaultBackend();
    logOpen(logPath_.c_str(), backupPath_.c_str());
    ASSERT_TRUE(logIsOpen());
}

void EngineFixture::TearDown()
{
    RestoreEngineDefaults();
    RemoveTree(dir_);
}

std::vector<std::string> EngineFixture::LogMessages() const
{
    std::vector<std::string> messages;
    for (const auto &line : LogLines()) {
        messages.push_back(LogMessage(line));
    }
    return messages;
}

void EngineFixture::RestartLog()
{
    logClose();
    std::remove(logPath_.c_str());
    std::remove(backupPath_.c_str());
    logOpen(logPath_.c_str(), backupPath_.c_str());
}

}  // namespace hbr_test
