// Helpers shared by the configuration and HTTP media tests.
#ifndef HBR_CONFIG_TEST_UTIL_H
#define HBR_CONFIG_TEST_UTIL_H

#include <string>
#include <vector>

#include "engine_fixture.h"
#include "lpa.h"
#include "lpa_error_internal.h"
#include "lpa_manager_config.h"

namespace hbr_test {

// The engine fixture with a few shortcuts for log lines and parameters.
class ConfigFixture : public EngineFixture {
protected:
    // Number of log lines that are exactly "<level name> | <message>" after
    // the timestamp; level "" matches any level.
    size_t CountLines(const std::string &level, const std::string &message) const
    {
        size_t n = 0;
        for (const auto &line : LogLines()) {
            size_t bar = line.find(" | ");
            if (bar == std::string::npos) {
                continue;
            }
            std::string rest = line.substr(bar + 3);
            bool match = level.empty() ? (rest.size() > 6 && rest.compare(6, std::string::npos, message) == 0)
                                       : rest == level + " | " + message;
            n += match ? 1 : 0;
        }
        return n;
    }
    bool HasLine(const std::string &level, const std::string &message) const
    {
        return CountLines(level, message) > 0;
    }
    // Index of the first message that starts with prefix, or -1.
    int FindMessagePrefix(const std::string &prefix) const
    {
        std::vector<std::string> messages = LogMessages();
        for (size_t i = 0; i < messages.size(); ++i) {
            if (messages[i].compare(0, prefix.size(), prefix) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    static bool SetText(const char *key, const char *text)
    {
        return lpaManagerSetConfigParameter(key, LPA_PARAMETER_TYPE_STRING, text, false);
    }
    // The last error, cleared.
    static uint32_t TakeError()
    {
        uint32_t code = lpaGetErrorCodeNoClear();
        lpaResetErrorCode();
        return code;
    }
    static int32_t GetLong(const char *key)
    {
        int32_t value = -12345;
        EXPECT_TRUE(lpaManagerGetConfigParameter(key, LPA_PARAMETER_TYPE_LONG, &value, sizeof(value))) << key;
        return value;
    }
    static std::string GetText(const char *key)
    {
        char buffer[512] = {};
        EXPECT_TRUE(lpaManagerGetConfigParameter(key, LPA_PARAMETER_TYPE_STRING, buffer, sizeof(buffer))) << key;
        return buffer;
    }
};

}  // namespace hbr_test

#endif  // HBR_CONFIG_TEST_UTIL_H
