// Helpers shared by the test programs.
#ifndef HBR_TEST_SUPPORT_H
#define HBR_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace hbrtest {

using hbr_test::FileExists;
using hbr_test::FileSize;
using hbr_test::ReadFile;
using hbr_test::RemoveTree;
using hbr_test::WriteFile;

// A fresh folder (hbr_test::MakeTempDir), removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, with null, unsets) an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();

private:
    std::string name_;
    bool had_;
    std::string old_;
};

// Polls `pred` every 10 ms until it holds or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()> &pred, int timeoutMs);

// The messages of a CLog file: each line's text after its prefix.
std::vector<std::string> LogMessages(const std::string &path);
// Index of the first message containing `text` at or after `from`, or -1.
int FindMessage(const std::vector<std::string> &messages, const std::string &text, int from = 0);
int CountMessages(const std::vector<std::string> &messages, const std::string &text);

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end with the current environment plus `env`,
// feeding `input` on stdin.
ProcessResult RunProcess(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
                         const std::string &input = "");

// The registry store under `root` as a killed writer may leave it: whether
// its lock (<root>/.lock) can be taken at once, and how many writers' temp
// files (".values.tmp.<pid>.<n>") lie in the folder of one key.
bool StoreLockFree(const std::string &root);
int ValueTempFiles(const std::string &keyFolder);

// Test fixture with its own registry root in a temp folder.
class RegistryRootTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string root() const { return dir_->path() + "/registry"; }
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ScopedEnv> env_;
};

} // namespace hbrtest

#endif
