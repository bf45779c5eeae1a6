// The shared engine fixture.
//
// SetUp: a unique temporary folder, the engine's default log backend
// installed and "lpa.log" opened in that folder (backup "lpa.backup.log").
// TearDown: the log closed and every process-wide engine setting put back
// to its default (RestoreEngineDefaults), then the folder removed.
//
// Later engine modules add their own resets to RestoreEngineDefaults so
// that every test starts from the same state, whatever ran before it in
// the same process.
#ifndef HBR_ENGINE_FIXTURE_H
#define HBR_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace hbr_test {

// Puts the engine's process-wide settings back to their defaults: log
// level 2 (DEB), maximum size 1048576, rotation off, the six allocator
// knobs 0, no last error, no running export name, no application
// execution-error callback, the configuration values and HTTP media
// (RestoreConfigDefaults), the SE media and a fresh simulated module
// (RestoreSeMediaDefaults). Closes the log first, so nothing is written
// meanwhile.
void RestoreEngineDefaults();

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The log file's lines (without '\n').
    std::vector<std::string> LogLines() const { return ReadLines(logPath_); }
    // The log file's message parts, in order (see LogMessage).
    std::vector<std::string> LogMessages() const;
    std::string LogText() const { return ReadFile(logPath_); }

    // Closes the log and opens it again after removing both files.
    void RestartLog();

    std::string dir_;
    std::string logPath_;
    std::string backupPath_;
};

}  // namespace hbr_test

#endif  // HBR_ENGINE_FIXTURE_H
